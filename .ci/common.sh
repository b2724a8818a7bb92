# Shared by every script in .ci/ (sourced, never run): the repository root,
# the one closing line each suite prints, finding interpreters, configuring
# CMake through the presets, and the cached Debian roots under
# /var/cache/qarvo (where they live, how users and builders take turns, how
# to delete one without following mounts into the host).
# shellcheck shell=bash
# Its variables are read by the scripts that source it.
# shellcheck disable=SC2034

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${QARVO_JOBS:-2}
cache_dir=${QARVO_CACHE:-/var/cache/qarvo}

# Where ccache is installed (the host; the Debian roots run with a clean
# environment), CMake compiles through it, with one cache under build/ for
# the whole run: the search core, which does not depend on the interpreter,
# is then compiled once for python-3.11 to 3.13 and once for both of
# python-arm's interpreters. Paths inside the tree are hashed relative to
# it, so build directories at the same depth share their objects.
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR=$root/build/ccache CCACHE_BASEDIR=$root
fi

# --- the closing line -------------------------------------------------------
# Every suite ends with exactly one line "NAME: N passed, M failed", which
# tests/run_all.sh reads. A suite calls suite_start NAME first, counts its own
# steps (a pytest run, a ctest run, a fuzzing session ...) with pass/fail, and
# the line is printed on exit however the script ends: an error that stops it
# counts as one more failure.
suite_name=$(basename "$0" .sh)
suite_passed=0
suite_failed=0
suite_start() {
  suite_name=$1
  trap suite_finish EXIT
}
pass() { suite_passed=$((suite_passed + 1)); }
fail() {
  suite_failed=$((suite_failed + 1))
  [ $# -eq 0 ] || echo "$suite_name: FAILED: $*" >&2
}
# run_step DESCRIPTION COMMAND...: runs the command and counts it.
run_step() {
  local what=$1 start=$SECONDS
  shift
  echo "== $what"
  if "$@"; then pass; else fail "$what"; fi
  echo "   ($((SECONDS - start)) s)"
}
# count_of WORD TEXT: the number before WORD in a runner's summary ("12 passed").
count_of() {
  local n
  n=$(grep -oE "[0-9]+ $1" <<<"$2" | tail -n 1 | cut -d' ' -f1)
  echo "${n:-0}"
}
# run_ctest BUILD_DIR: ctest of a build directory, each test counted.
run_ctest() {
  local out status=0 summary total failed
  out=$(mktemp)
  ctest --test-dir "$1" --output-on-failure -j "$jobs" 2>&1 | tee "$out" || status=$?
  # "100% tests passed, 0 tests failed out of 51", or without the middle part.
  summary=$(grep -E 'tests passed.* out of [0-9]+' "$out" | tail -n 1)
  rm -f "$out"
  total=$(grep -oE 'out of [0-9]+' <<<"$summary" | cut -d' ' -f3)
  failed=$(count_of 'tests? failed' "$summary")
  suite_passed=$((suite_passed + ${total:-0} - failed))
  suite_failed=$((suite_failed + failed))
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then fail "ctest in $1 (exit $status)"; fi
  if [ -z "$summary" ]; then fail "ctest in $1 ran no test"; fi
}
# run_pytest COMMAND...: a pytest run (the whole command line), each test
# counted; errors count as failures, and so does a run that ran nothing.
run_pytest() {
  local out status=0 summary passed failed
  out=$(mktemp)
  "$@" 2>&1 | tee "$out" || status=$?
  summary=$(grep -E '^=*[ ]*[0-9]+ [a-z]+.* in [0-9.]+s' "$out" | tail -n 1)
  rm -f "$out"
  passed=$(count_of passed "$summary")
  failed=$(($(count_of failed "$summary") + $(count_of 'errors?' "$summary")))
  suite_passed=$((suite_passed + passed))
  suite_failed=$((suite_failed + failed))
  if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then fail "pytest exited with $status"; fi
  if [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ]; then fail "pytest ran no test"; fi
}
suite_finish() {
  local status=$?
  trap - EXIT
  # An unexpected exit (set -e, a signal) is a failure even if every counted
  # step passed.
  if [ "$status" -ne 0 ] && [ "$suite_failed" -eq 0 ]; then
    suite_failed=1
  fi
  echo "$suite_name: $suite_passed passed, $suite_failed failed"
  [ "$suite_failed" -eq 0 ] && [ "$status" -eq 0 ]
  exit $?
}

# --- Debian packages --------------------------------------------------------
# apt_install PACKAGE...: installs those of the packages that are missing.
apt_install() {
  local package missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
}

# --- interpreters -----------------------------------------------------------
# python_for VERSION: the pyenv interpreter of a minor version (e.g. 3.11),
# else python3.11 on PATH. Prints nothing and returns 1 when neither exists:
# a suite asked for 3.11 must not quietly test another version.
python_for() {
  local found
  found=$(find /root/.pyenv/versions -maxdepth 1 -name "$1.*" 2>/dev/null |
    sort -V | tail -n 1)
  if [ -n "$found" ] && [ -x "$found/bin/python3" ]; then
    echo "$found/bin/python3"
  else
    command -v "python$1"
  fi
}
# require_python EXECUTABLE [MINOR]: the executable must run, and must be that
# minor version when one is given.
require_python() {
  local py=$1 want=${2:-} have
  if ! have=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])' 2>/dev/null); then
    echo "$suite_name: interpreter '$py' is missing or does not run" >&2
    return 1
  fi
  if [ -n "$want" ] && [ "$have" != "$want" ]; then
    echo "$suite_name: '$py' is Python $have, not the requested $want" >&2
    return 1
  fi
}
# python_suite_start NAME PYTHON [MINOR] [-- PYTEST_ARGS...]: starts a suite
# of one interpreter (QARVO_SUITE overrides NAME; an empty NAME means
# python-MINOR) and checks that interpreter. Sets py, want (the minor version
# asked for, or empty) and the array pytest_args.
python_suite_start() {
  local name=$1
  shift
  py=${1:-}
  shift || true
  want=
  if [ $# -gt 0 ] && [ "$1" != -- ]; then
    want=$1
    shift
  fi
  [ "${1:-}" = -- ] && shift
  pytest_args=("$@")
  suite_start "${QARVO_SUITE:-${name:-python-${want:-$py}}}"
  require_python "$py" "$want"
}
# The cache tag of an interpreter plus its ABI flags, e.g. cpython-314d: the
# name of its build directories.
python_tag() {
  "$1" -c 'import sys; print(sys.implementation.cache_tag + sys.abiflags)'
}

# The Python test modules whose answers depend on the search core's variant;
# the others exercise the module's surface and the interpreter. A suite that
# forces each variant in turn, after a whole run on the chosen one, runs
# these.
variant_tests=(test_backend.py test_byte_sets.py test_ignore_case.py test_multi_finder.py
  test_needles.py test_properties.py test_searches.py)

# --- CMake ------------------------------------------------------------------
# configure_and_build PRESET BUILD_DIR [cmake options...]
# Configures with one of the presets of CMakePresets.json (which hold every
# configuration a suite uses) into BUILD_DIR and builds it.
configure_and_build() {
  local preset=$1 dir=$2 no_debug_info=()
  shift 2
  # Debug information costs about a quarter of the compile time and serves
  # only a debugger, which CI has none of; the sanitizer and fuzz builds keep
  # it for the file and line in their reports.
  [[ "$preset" == *sanitize* || "$preset" == *fuzz* ]] ||
    no_debug_info=(-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2)
  cmake --preset "$preset" -S "$root" -B "$dir" "${no_debug_info[@]}" "$@"
  cmake --build "$dir" -j "$jobs"
}

# wheel_in_shared_build PYTHON SOURCE BUILD OUTDIR [pip args...]: pip builds
# the wheel of SOURCE (an unpacked sdist) for PYTHON into OUTDIR, in the
# build directory BUILD that the wheels of the other versions use too. The
# CMake cache is dropped first, so the build configures for PYTHON afresh;
# the objects that do not depend on the interpreter (the whole search core)
# are already there and stay, since their commands are unchanged.
wheel_in_shared_build() {
  local py=$1 source=$2 build=$3 outdir=$4
  shift 4
  rm -f "$build/CMakeCache.txt"
  "$py" -m pip wheel --quiet --disable-pip-version-check --no-deps -w "$outdir" \
    -Cbuild-dir="$build" "$@" "$source"
}

# The variants a core test binary runs its suites on, from its test list.
variants_of() {
  "$@" --gtest_list_tests --gtest_filter='Backends/FindOne.EmptyRangeIsNotFoundEvenWithoutData/*' |
    awk '/^ / && /\// { split($1, parts, "/"); print parts[2] }'
}


# --- cached Debian roots ----------------------------------------------------
# The Debian mirror: QARVO_DEBIAN_MIRROR, else the first Debian archive among
# this host's apt sources (one-line or deb822 style), else deb.debian.org.
debian_mirror() {
  local mirror=${QARVO_DEBIAN_MIRROR:-${QARVO_SID_MIRROR:-}}
  if [ -z "$mirror" ]; then
    mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
      /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v '^[[:space:]]*#' |
      grep -oE 'https?://[^ ]+/debian/?( |$)' | grep -v security | head -n1 | tr -d ' ' || true)
  fi
  echo "${mirror:-http://deb.debian.org/debian}"
}

# A root is complete when its stamp lists every wanted package; a root made
# from a longer list is good enough, so that checkouts whose lists differ by a
# package do not rebuild it in turn.
#   root_ready STAMP PACKAGE...
root_ready() {
  local stamp=$1 have package
  shift
  [ -f "$stamp" ] || return 1
  have=" $(sed -n 's/^packages: //p' "$stamp") "
  for package in "$@"; do
    [[ "$have" == *" $package "* ]] || return 1
  done
}

# Removes a directory tree, refusing when anything is still mounted below it:
# a bind mount of /dev or of the repository would otherwise be emptied too.
remove_tree() {
  local dir=$1 real
  [ -e "$dir" ] || return 0
  real=$(realpath "$dir")
  if awk -v d="$real" '$5 == d || index($5, d "/") == 1 { found = 1 } END { exit !found }' \
    /proc/self/mountinfo; then
    echo "refusing to delete $dir: something is mounted below it" >&2
    return 1
  fi
  rm -rf --one-file-system "$dir"
}

# copy_tree DEST: what the next commit would hold (tracked files and new files
# not ignored), or the whole tree without builds outside a git checkout.
copy_tree() {
  local dest=$1
  if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard |
      while IFS= read -r -d '' f; do [ -e "$root/$f" ] && printf '%s\0' "$f"; done |
      tar -C "$root" --null -T - -cf - | tar -C "$dest" -xf -
  else
    tar -C "$root" --exclude='./build*' --exclude=.git -cf - . | tar -C "$dest" -xf -
  fi
}

# The Debian sid root with CPython 3.14 and 3.15 (release and debug builds)
# and sid's GCC, in which sid-run.sh builds and tests (sid-root.sh builds
# it). Its users hold the lock shared; a rebuild holds it exclusively, so a
# root is never deleted under a running test.
sid_root=${QARVO_SID_ROOT:-$cache_dir/sid-root}
sid_stamp="$sid_root/.qarvo-sid-stamp"
sid_lock="$sid_root.lock"
# python3-pytest, -hypothesis, -numpy and -mypy are built for every CPython
# that sid supports (3.14 and 3.15), so all four interpreters import them. The
# debug interpreters load the release builds of compiled modules too (Debian
# ships no separate debug builds of them), so numpy runs there as well.
# libpython3.1x-testsuite brings _testcapi; libgtest-dev is for the C++
# suites that configure beside the test-only extension.
sid_packages=(
  python3.14-dev python3.14-dbg python3.14-venv libpython3.14-testsuite
  python3.15-dev python3.15-dbg python3.15-venv libpython3.15-testsuite
  python3-pip python3-pytest python3-hypothesis python3-numpy python3-mypy
  python3-scikit-build-core
  g++ cmake ninja-build libgtest-dev
)

# The Debian arm64 trees, one per Debian suite, with the CPython interpreters
# and headers of the aarch64 builds: nothing in them runs natively, the cross
# compilers read their headers and qemu-aarch64 -L runs their interpreters.
#   bookworm  3.11         arm64-root.sh
#   trixie    3.13         arm64-trixie-root.sh
#   sid       3.14, 3.15   arm64-sid-root.sh
# No Debian suite carries CPython 3.12 for any architecture, so there is no
# arm64 3.12 to run: its wheel is built against arm_headers_312 and checked
# without an interpreter (see wheel-arm.sh).
arm64_root=${QARVO_ARM64_ROOT:-$cache_dir/arm64-root}
arm64_stamp="$arm64_root/.qarvo-arm64-stamp"
arm64_lock="$arm64_root.lock"
arm64_packages=(python3.11 libpython3.11-dev)
arm64_trixie_root=${QARVO_ARM64_TRIXIE_ROOT:-$cache_dir/arm64-trixie-root}
arm64_trixie_stamp="$arm64_trixie_root/.qarvo-arm64-stamp"
arm64_trixie_lock="$arm64_trixie_root.lock"
arm64_trixie_packages=(python3.13 libpython3.13-dev)
# 3.15 is the interpreter of the 3.14+ C API that python-arm.sh runs the
# whole suite on; its testsuite package brings _testcapi and _testbuffer.
arm64_sid_root=${QARVO_ARM64_SID_ROOT:-$cache_dir/arm64-sid-root}
arm64_sid_stamp="$arm64_sid_root/.qarvo-arm64-stamp"
arm64_sid_lock="$arm64_sid_root.lock"
arm64_sid_packages=(python3.14 libpython3.14-dev python3.15 libpython3.15-dev
  libpython3.15-testsuite)

# arm_tree MINOR: sets arm_root, arm_stamp, arm_lock, arm_packages (an array),
# arm_builder (the script that builds the tree) and arm_fd (the descriptor
# its lock is held on, one per tree) for the arm64 tree with CPython MINOR;
# returns 1 when no tree has that version.
arm_tree() {
  local name
  case $1 in
  3.11) name=arm64 arm_builder=arm64-root.sh arm_fd=7 ;;
  3.13) name=arm64_trixie arm_builder=arm64-trixie-root.sh arm_fd=6 ;;
  3.14 | 3.15) name=arm64_sid arm_builder=arm64-sid-root.sh arm_fd=5 ;;
  *) return 1 ;;
  esac
  local -n tree="${name}_root" stamp="${name}_stamp" lock="${name}_lock" \
    packages="${name}_packages"
  arm_root=$tree arm_stamp=$stamp arm_lock=$lock
  arm_packages=("${packages[@]}")
}
# hold_arm_tree MINOR: holds the arm64 tree with CPython MINOR shared (see
# hold_root), building it first when needed; also sets what arm_tree sets.
hold_arm_tree() {
  arm_tree "$1" || {
    echo "$suite_name: no arm64 tree has CPython $1" >&2
    return 1
  }
  hold_root "$arm_fd" "$arm_lock" "$arm_stamp" "$root/.ci/$arm_builder" "${arm_packages[@]}"
}

# arm_python DIR [MINOR]: writes DIR/pythonMINOR (default 3.11), which runs
# the arm64 interpreter of that version under qemu-aarch64, and prints its
# path. The interpreter gets the script's path as argv[0], so sys.executable
# names the script and the subprocesses a test starts run under qemu too; its
# standard library still comes from the tree, which qemu puts in front of
# every absolute path that exists there.
# The tree lacks the library's bytecode (Debian's packages make it when
# installed), and qemu would create it at the host's path, where the
# directory is missing: every start of the interpreter, each subprocess of a
# test too, compiled all it imported. So the bytecode goes to DIR/pycache,
# and is written even where PYTHONDONTWRITEBYTECODE is set.
# Debian builds trixie's and sid's arm64 binaries with branch protection, and
# qemu's default CPU emulates pointer authentication's cipher at a cost that
# made their interpreters many times slower than bookworm's (a Python loop:
# eighteen times). The emulated CPU goes without pointer authentication, like
# any core before Armv8.3: the signing instructions lie in the hint space and
# run as no-ops there.
arm_python() {
  local minor=${2:-3.11}
  arm_tree "$minor" || return 1
  mkdir -p "$1/pycache"
  # shellcheck disable=SC2016  # $0 and $@ belong to the script written
  printf '#!/bin/sh\nunset PYTHONDONTWRITEBYTECODE\nexport PYTHONPYCACHEPREFIX="%s"\nexec qemu-aarch64 -cpu max,pauth=off -L "%s" -0 "$0" "%s/usr/bin/python%s" "$@"\n' \
    "$(realpath "$1/pycache")" "$arm_root" "$arm_root" "$minor" >"$1/python$minor.$$"
  chmod +x "$1/python$minor.$$"
  # Renamed into place: another suite may be running the same launcher.
  mv -f "$1/python$minor.$$" "$1/python$minor"
  echo "$1/python$minor"
}

# pyconfig_dir DIR USR TRIPLET PYTHON...: an include directory holding only
# USR/include/TRIPLET/PYTHON for each PYTHON (e.g. python3.11), where Debian's
# multiarch pyconfig.h sends Python.h. A compiler other than Debian's own
# (zig's, or a cross compiler) does not search that directory, and adding all
# of USR/include would let the root's other headers shadow the compiler's.
pyconfig_dir() {
  local dir=$1/include usr=$2 triplet=$3 python
  shift 3
  mkdir -p "$dir/$triplet"
  for python in "$@"; do
    ln -sfn "$usr/include/$triplet/$python" "$dir/$triplet/$python"
  done
  echo "$dir"
}
# arm_pyconfig_dir DIR [MINOR]: the same for an arm64 tree's CPython MINOR.
arm_pyconfig_dir() {
  local minor=${2:-3.11}
  arm_tree "$minor" || return 1
  pyconfig_dir "$1" "$arm_root/usr" aarch64-linux-gnu "python$minor"
}

# arm_headers_from_host DIR PYTHON: for a version no arm64 tree has (3.12), the
# include directory DIR/pythonX.Y made from the x86-64 host interpreter
# PYTHON's own headers, and its path. The headers are the same on every
# architecture but pyconfig.h; there the lines in which Debian's x86-64 and
# arm64 builds of one CPython differ (the x86 assembly of the float code,
# whether wchar_t serves as Py_UNICODE, the support tier) are set as an arm64
# build sets them. Fails when a line to set is not there as expected.
arm_headers_from_host() {
  local dir=$1 py=$2 include name line
  include=$("$py" -c 'import sysconfig; print(sysconfig.get_paths()["include"])') || return 1
  name=$(basename "$include")
  [ -f "$include/Python.h" ] && [ -f "$include/pyconfig.h" ] || return 1
  rm -rf "${dir:?}/$name"
  mkdir -p "$dir"
  cp -a "$include" "$dir/$name" || return 1
  for line in '#define HAVE_GCC_ASM_FOR_X64 1' '#define HAVE_GCC_ASM_FOR_X87 1' \
    '/\* #undef HAVE_USABLE_WCHAR_T \*/' '#define PY_SUPPORT_TIER 1'; do
    grep -qx "$line" "$dir/$name/pyconfig.h" || {
      echo "$suite_name: $include/pyconfig.h lacks the line '$line'" >&2
      return 1
    }
  done
  sed -i -e 's|^#define HAVE_GCC_ASM_FOR_X64 1$|/* #undef HAVE_GCC_ASM_FOR_X64 */|' \
    -e 's|^#define HAVE_GCC_ASM_FOR_X87 1$|/* #undef HAVE_GCC_ASM_FOR_X87 */|' \
    -e 's|^/\* #undef HAVE_USABLE_WCHAR_T \*/$|#define HAVE_USABLE_WCHAR_T 1|' \
    -e 's|^#define PY_SUPPORT_TIER 1$|#define PY_SUPPORT_TIER 2|' "$dir/$name/pyconfig.h"
  echo "$dir/$name"
}

# make_arm64_tree SUITE: builds the arm64 tree that arm_tree chose from the
# Debian SUITE unless it is complete, and prints its path (the body of each
# arm64-*root.sh). debootstrap --foreign only downloads and unpacks (no
# emulation needed); the packages it downloaded but did not unpack are
# unpacked with dpkg-deb, and no maintainer script ever runs. The tree is
# built beside its final place and renamed into it after the stamp is
# written, so an interrupted build never looks complete.
make_arm64_tree() {
  local suite=$1 new start mirror include deb
  if root_ready "$arm_stamp" "${arm_packages[@]}"; then
    echo "$arm_root"
    return 0
  fi
  mkdir -p "$(dirname "$arm_root")"
  exec 9>"$arm_lock"
  # Waits until no test run uses the tree any more.
  flock 9
  if root_ready "$arm_stamp" "${arm_packages[@]}"; then
    echo "$arm_root"
    return 0
  fi
  new="$arm_root.new"
  remove_tree "$new" && remove_tree "$arm_root" || return 1
  start=$SECONDS
  mirror=$(debian_mirror)
  echo "$suite_name: building $arm_root ($suite) from $mirror" >&2
  include=$(IFS=,; echo "${arm_packages[*]}")
  if ! debootstrap --foreign --arch=arm64 --variant=minbase --include="$include" \
    "$suite" "$new" "$mirror" >"$new.log" 2>&1; then
    tail -n 30 "$new.log" >&2
    echo "$suite_name: debootstrap failed (full log: $new.log)" >&2
    return 1
  fi
  for deb in "$new"/var/cache/apt/archives/*.deb; do
    dpkg-deb -x "$deb" "$new" || return 1
  done
  rm -rf "$new"/var/cache/apt/archives/*.deb "$new/debootstrap" "$new.log"
  echo "packages: ${arm_packages[*]}" >"$new/${arm_stamp##*/}"
  remove_tree "$arm_root" && mv -T "$new" "$arm_root" || return 1
  echo "$suite_name: built in $((SECONDS - start)) s, $(du -sh "$arm_root" | cut -f1)" >&2
  echo "$arm_root"
}

# hold_root LOCK_FD LOCK STAMP BUILDER PACKAGE...: holds LOCK shared on the
# given descriptor once the root is complete, building it first (the builder
# takes the lock exclusively) when needed.
hold_root() {
  local fd=$1 lock=$2 stamp=$3 builder=$4
  shift 4
  mkdir -p "$(dirname "$lock")"
  eval "exec $fd>\"\$lock\""
  while :; do
    flock -s "$fd"
    root_ready "$stamp" "$@" && return 0
    flock -u "$fd"
    "$builder" >/dev/null || return 1
  done
}
