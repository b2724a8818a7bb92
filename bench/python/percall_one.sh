#!/usr/bin/env bash
# Builds qarvo (Release, as the wheel is built) for one interpreter and runs
# percall.py on it, writing its JSON result.
#   bench/python/percall_one.sh <python> <build-dir> <out.json> [percall.py args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
py=$1 build=$2 out=$3
shift 3

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DPython_EXECUTABLE="$(command -v "$py")" -DQARVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target qarvo -j2 >/dev/null
PYTHONPATH="$build/bindings" "$py" "$here/percall.py" --json --quiet "$@" >"$out"
