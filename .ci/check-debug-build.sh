#!/usr/bin/env bash
# Checks that every object compiled for a debug interpreter read the debug
# pyconfig.h (which defines Py_DEBUG) and never the release one. A module
# built in release mode still loads into the debug interpreter, since the two
# share an ABI, but its reference counting escapes sys.gettotalrefcount(), so
# leak checks would pass or fail for the wrong reason.
#   .ci/check-debug-build.sh BUILD_DIR...    Ninja build directories
set -euo pipefail
bad=0
for dir in "$@"; do
  # Outside a mounted /proc ninja cannot read it for its job count; -t deps
  # needs none.
  deps=$(ninja -C "$dir" -t deps 2> >(grep -v '^Problem opening /proc/' >&2))
  # Each object's entry starts unindented; its headers follow indented.
  wrong=$(awk '/^[^ ]/ { obj = $1; sub(/:$/, "", obj) } /\/python3\.[0-9]+\/pyconfig\.h$/ { print obj }' <<<"$deps" | sort -u)
  if [ -n "$wrong" ]; then
    echo "check-debug-build: compiled against the release pyconfig.h in $dir:" "$wrong" >&2
    bad=1
  elif ! grep -qE '/python3\.[0-9]+d/pyconfig\.h$' <<<"$deps"; then
    echo "check-debug-build: no object in $dir read the debug pyconfig.h" >&2
    bad=1
  else
    echo "check-debug-build: $dir built against the debug pyconfig.h only"
  fi
done
exit "$bad"
