#!/usr/bin/env bash
# Builds the module and the test-only extension with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the Python suites against them. The
# interpreter itself is not instrumented, so the sanitizer runtime is
# preloaded and leak detection (which would report the interpreter's own
# allocations) is off.
#   .ci/python-sanitize.sh [python-executable]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:-python3}
shift || true
build="$root/build/asan"
venv="$root/build/venv-asan"

"$py" -m venv --clear "$venv"
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check pytest hypothesis numpy

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=g++ -DQARVO_SANITIZE=address,undefined -DQARVO_WERROR=ON \
  -DQARVO_BUILD_TESTS=ON -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$build" --target qarvo qarvo_testhooks -j2 >/dev/null

preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
cd "$root/tests/python"
echo "== python tests under ASan+UBSan =="
LD_PRELOAD="$preload" \
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
PYTHONPATH="$build/bindings" QARVO_TESTHOOKS_DIR="$build/tests/hooks" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "$@" .
