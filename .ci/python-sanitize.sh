#!/usr/bin/env bash
# Builds the module and the test-only extension with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs the Python suites against them. The
# interpreter itself is not instrumented, so the sanitizer runtime is
# preloaded and leak detection (which would report the interpreter's own
# allocations) is off.
#   .ci/python-sanitize.sh PYTHON [MINOR] [-- extra pytest args...]
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
python_suite_start python-sanitize "$@" || exit 1
build="$root/build/asan"
venv="$root/build/venv-asan"

"$py" -m venv --clear "$venv" &&
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check pytest hypothesis numpy ||
  exit 1
cmake --preset python-sanitize -S "$root" -B "$build" -DPython_EXECUTABLE="$venv/bin/python" \
  >/dev/null && cmake --build "$build" --target qarvo qarvo_testhooks -j "$jobs" >/dev/null ||
  exit 1

preload="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
cd "$root/tests/python" || exit 1
echo "== python tests under ASan+UBSan =="
run_pytest env LD_PRELOAD="$preload" \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  PYTHONPATH="$build/bindings" QARVO_TESTHOOKS_DIR="$build/tests/hooks" \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider "${pytest_args[@]}" .
