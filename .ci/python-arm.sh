#!/usr/bin/env bash
# The whole module on aarch64: the extension and the test-only extension
# cross-compiled with g++-aarch64-linux-gnu against Debian's arm64 CPython
# 3.11 headers (the cached arm64 root, see arm64-root.sh), and the Python
# suite run by the arm64 interpreter under qemu-aarch64, once per variant the
# emulated CPU runs (Advanced SIMD and the scalar emulation).
#   .ci/python-arm.sh [pytest args...]
#   .ci/python-arm.sh --wheel WHEEL    the suite against an aarch64 wheel's module
# pytest, hypothesis and NumPy (its manylinux aarch64 wheel) are installed for
# the arm64 interpreter with the host's pip.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-python-arm}"
wheel=
if [ "${1:-}" = --wheel ]; then
  wheel=$(realpath "$2")
  shift 2
fi

hold_root 7 "$arm64_lock" "$arm64_stamp" "$root/.ci/arm64-root.sh" "${arm64_packages[@]}" ||
  exit 1
work=$root/build/arm
mkdir -p "$work"
arm_py=$(arm_python "$work")
require_python "$arm_py" 3.11 || exit 1
[ "$("$arm_py" -c 'import platform; print(platform.machine())')" = aarch64 ] || exit 1

host_py=$(python_for 3.11)
require_python "$host_py" 3.11 || exit 1
site=$work/site
if ! [ -d "$site/pytest" ] || ! [ -d "$site/hypothesis" ] || ! [ -d "$site/numpy" ]; then
  rm -rf "$site"
  "$host_py" -m pip install --quiet --disable-pip-version-check --target "$site" \
    --only-binary=:all: --python-version 3.11 --implementation cp --abi cp311 \
    --platform manylinux_2_28_aarch64 pytest hypothesis numpy || exit 1
fi

if [ -n "$wheel" ]; then
  # The wheel's files as pip would install them.
  modules=$work/wheel
  rm -rf "$modules"
  "$host_py" -m zipfile -e "$wheel" "$modules" || exit 1
  hooks=
  variants=default
else
  build=$root/build/python-arm
  cmake --preset python-arm -S "$root" -B "$build" -DPython_EXECUTABLE="$arm_py" \
    -DPython_INCLUDE_DIR="$arm64_root/usr/include/python3.11" \
    "-DCMAKE_CXX_FLAGS=-isystem $(arm_pyconfig_dir "$work")" >/dev/null &&
    cmake --build "$build" -j "$jobs" --target qarvo qarvo_testhooks || exit 1
  modules=$build/bindings
  hooks=$build/tests/hooks
  variants=$(cd /tmp && PYTHONPATH="$hooks" "$arm_py" -c \
    'import _qarvo_testhooks as h; print(" ".join(h.supported_backends()))') || exit 1
fi
readelf -h "$modules"/qarvo*.so | grep -E "Machine"

cd "$root/tests/python" || exit 1
for variant in $variants; do
  backend=()
  [ "$variant" = default ] || backend=(QARVO_BACKEND="$variant")
  echo "== python tests on aarch64 (qemu) with ${backend[*]:-the chosen variant}"
  run_pytest env "${backend[@]}" PYTHONPATH="$modules:$site" QARVO_TESTHOOKS_DIR="$hooks" \
    "$arm_py" -m pytest -q -p no:cacheprovider "$@" .
done
echo "python-arm: variants ${variants// /,} under qemu-aarch64"
