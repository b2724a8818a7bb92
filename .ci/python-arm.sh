#!/usr/bin/env bash
# The whole module on aarch64: the extension and the test-only extension
# cross-compiled with g++-aarch64-linux-gnu against Debian's arm64 CPython
# headers (the cached arm64 trees, see arm_tree in common.sh), and the Python
# suite run by the arm64 interpreter under qemu-aarch64. It runs on two
# interpreters: 3.15, the newest C API (with _testcapi, so the subinterpreter
# tests run too), whole on the chosen variant (Advanced SIMD), then the
# variant-dependent modules (variant_tests in common.sh) with every other
# variant the emulated CPU runs forced (the scalar emulation); and 3.11, the
# oldest supported, whole on the chosen one.
#   .ci/python-arm.sh [pytest args...]
#   .ci/python-arm.sh --wheel WHEEL [pytest args...]
#                      the suite against an aarch64 wheel's module, on the
#                      CPython of its tag
# QARVO_ARM_PYTHONS  the interpreters of the first form (default "3.11 3.15")
# QARVO_ARM_EVERY_VARIANT_ON  those of them that go on to the other variants
#                    (default "3.15"); the others run on the chosen one only
# pytest, hypothesis and NumPy (their manylinux aarch64 wheels) are installed
# for each arm64 interpreter with the host's pip.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-python-arm}"
wheel=
if [ "${1:-}" = --wheel ]; then
  wheel=$(realpath "$2")
  shift 2
  # qarvo-1.0.1-cp313-cp313-manylinux_2_28_aarch64.whl: 3.13
  tag=$(basename "$wheel" | cut -d- -f3)
  minors=("3.${tag#cp3}")
else
  read -ra minors <<<"${QARVO_ARM_PYTHONS:-3.11 3.15}"
fi

host_py=$(python_for 3.11)
require_python "$host_py" 3.11 || exit 1

# run_on MINOR [pytest args...]: the suite on the arm64 CPython MINOR, on
# each variant; returns 1 when it could not get as far as running it.
run_on() {
  local minor=$1 work arm_py site target modules hooks variants build variant backend tests
  shift
  hold_arm_tree "$minor" || return 1
  work=$root/build/arm/$minor
  mkdir -p "$work"
  arm_py=$(arm_python "$work" "$minor") || return 1
  require_python "$arm_py" "$minor" || return 1
  [ "$("$arm_py" -c 'import platform; print(platform.machine())')" = aarch64 ] || return 1

  site=$work/site
  # wheels.sh runs this script for its aarch64 wheels while python-arm may be
  # running beside it: the first to come fills the site, the other waits.
  (
    flock 9
    if ! [ -d "$site/pytest" ] || ! [ -d "$site/hypothesis" ] || ! [ -d "$site/numpy" ]; then
      rm -rf "$site" "$work/wheels"
      # pip download chooses for the target's version; pip install would hold
      # each wheel's Requires-Python against the host's 3.11 instead, so it
      # only unpacks what was chosen.
      target=(--only-binary=:all: --python-version "$minor" --implementation cp
        --abi "cp${minor/./}" --platform manylinux_2_28_aarch64)
      "$host_py" -m pip download --quiet --disable-pip-version-check -d "$work/wheels" \
        "${target[@]}" pytest hypothesis numpy &&
        "$host_py" -m pip install --quiet --disable-pip-version-check --no-index --no-deps \
          --ignore-requires-python --target "$site" "${target[@]}" "$work"/wheels/*.whl ||
        exit 1
      rm -rf "$work/wheels"
    fi
  ) 9>"$work/site.lock" || return 1

  if [ -n "$wheel" ]; then
    # The wheel's files as pip would install them.
    modules=$work/wheel
    rm -rf "$modules"
    "$host_py" -m zipfile -e "$wheel" "$modules" || return 1
    hooks=
    variants=default
  else
    # The flags name one pyconfig directory for both interpreters, so the
    # core's compiler commands are the same for both (ccache, common.sh).
    build=$root/build/python-arm-$minor
    cmake --preset python-arm -S "$root" -B "$build" -DPython_EXECUTABLE="$arm_py" \
      -DPython_INCLUDE_DIR="$arm_root/usr/include/python$minor" \
      "-DCMAKE_CXX_FLAGS=-isystem $(arm_pyconfig_dir "$root/build/arm" "$minor")" >/dev/null &&
      cmake --build "$build" -j "$jobs" --target qarvo qarvo_testhooks || return 1
    modules=$build/bindings
    hooks=$build/tests/hooks
    # The chosen variant, then, on the newest C API, every other one forced
    # (a whole run under qemu costs minutes, and the variants' code does not
    # depend on the interpreter).
    variants=default
    if [[ " ${QARVO_ARM_EVERY_VARIANT_ON:-3.15} " == *" $minor "* ]]; then
      variants+=" $(cd /tmp && PYTHONPATH="$hooks" "$arm_py" -c 'import _qarvo_testhooks as h
print(" ".join(b for b in h.supported_backends() if b != h.active_backend()))')" || return 1
    fi
  fi
  readelf -h "$modules"/qarvo*.so | grep -E "Machine"

  pushd "$root/tests/python" >/dev/null || return 1
  for variant in $variants; do
    backend=()
    tests=("$@")
    if [ "$variant" != default ]; then
      backend=(QARVO_BACKEND="$variant")
      [ $# -gt 0 ] || tests=("${variant_tests[@]}")
    fi
    echo "== python tests on aarch64 (qemu), CPython $minor, ${backend[*]:-the chosen variant}"
    # No path of its own: pytest collects the directory unless the arguments
    # name test files. QARVO_EMULATED: the property tests draw fewer
    # examples under qemu.
    run_pytest env "${backend[@]}" PYTHONPATH="$modules:$site" QARVO_TESTHOOKS_DIR="$hooks" \
      QARVO_EMULATED=1 "$arm_py" -m pytest -q -p no:cacheprovider "${tests[@]}"
  done
  popd >/dev/null || return 1
  echo "python-arm: CPython $minor, variants ${variants// /,} under qemu-aarch64"
}

for minor in "${minors[@]}"; do
  start=$SECONDS
  run_on "$minor" "$@" || fail "the suite could not run on the arm64 CPython $minor"
  echo "python-arm: CPython $minor took $((SECONDS - start)) s"
done
