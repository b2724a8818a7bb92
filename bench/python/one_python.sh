#!/usr/bin/env bash
# Builds qarvo (Release, as the wheel is built) for one interpreter and runs
# one Python benchmark on it, writing its JSON result. For `matches`, `multi`,
# `ignore_case` and `byte_sets` the peers (StringZilla and hyperscan;
# hyperscan, pyahocorasick and ahocorasick-rs; hyperscan; StringZilla) are
# installed into a virtual environment first, where the interpreter has
# wheels for them (or builds them from source where it can); a peer that
# cannot be installed is left out.
#   bench/python/one_python.sh percall|matches|multi|ignore_case|byte_sets <python> <build-dir> <out.json> [args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
bench=$1 py=$2 build=$3 out=$4
shift 4

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$(command -v "$py")" -DQARVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target qarvo -j2 >/dev/null
case "$bench" in
  percall)
    script=percall.py
    set -- --quiet "$@"
    ;;
  matches)
    script=compare_matches.py
    "$py" -m venv --system-site-packages "$build/venv" >/dev/null
    py="$build/venv/bin/python"
    # A wheel where the interpreter has one; else StringZilla's sdist, which
    # builds with the C compiler alone (hyperscan's needs the library).
    for peer in stringzilla hyperscan; do
      "$py" -m pip install --quiet --disable-pip-version-check --only-binary=:all: "$peer" 2>/dev/null ||
        { [ "$peer" = stringzilla ] &&
          "$py" -m pip install --quiet --disable-pip-version-check "$peer"; } ||
        echo "one_python: no $peer for $("$py" -V)" >&2
    done
    ;;
  multi)
    script=compare_multi.py
    "$py" -m venv --system-site-packages "$build/venv" >/dev/null
    py="$build/venv/bin/python"
    for peer in hyperscan pyahocorasick ahocorasick-rs; do
      "$py" -m pip install --quiet --disable-pip-version-check --only-binary=:all: "$peer" 2>/dev/null ||
        "$py" -m pip install --quiet --disable-pip-version-check "$peer" 2>/dev/null ||
        echo "one_python: no $peer for $("$py" -V)" >&2
    done
    ;;
  ignore_case)
    script=compare_ignore_case.py
    "$py" -m venv --system-site-packages "$build/venv" >/dev/null
    py="$build/venv/bin/python"
    "$py" -m pip install --quiet --disable-pip-version-check --only-binary=:all: hyperscan \
      2>/dev/null ||
      "$py" -m pip install --quiet --disable-pip-version-check hyperscan 2>/dev/null ||
      echo "one_python: no hyperscan for $("$py" -V)" >&2
    ;;
  byte_sets)
    script=compare_byte_sets.py
    "$py" -m venv --system-site-packages "$build/venv" >/dev/null
    py="$build/venv/bin/python"
    "$py" -m pip install --quiet --disable-pip-version-check stringzilla 2>/dev/null ||
      echo "one_python: no stringzilla for $("$py" -V)" >&2
    ;;
  *) echo "one_python: no benchmark '$bench'" >&2 && exit 2 ;;
esac
PYTHONPATH="$build/bindings" "$py" "$here/$script" --json "$@" >"$out"
