#!/usr/bin/env bash
# Builds the aarch64 wheel for one CPython from the sdist: the extension
# cross-compiled with packaging/zig-c++ for aarch64 against glibc 2.28 and
# that CPython's arm64 headers, packed beside the same files as the x86-64
# wheel of that CPython (stubs and metadata). Called by wheels.sh once per
# version, which repairs and tests the wheels.
#   .ci/wheel-arm.sh SDIST X86_64_WHEEL OUTDIR
# The version is the x86-64 wheel's (cp312 ...). Its headers come from the
# Debian arm64 tree that has it (common.sh, arm_tree); no Debian suite has
# 3.12, so for it they are the host 3.12's own with pyconfig.h set as on arm64
# (arm_headers_from_host), and the host 3.12 stands in for the interpreter
# CMake asks about the version.
# Needs QARVO_ZIG (the zig executable) and the wheel package on PATH's python.
set -euo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
sdist=$(realpath "$1")
template=$(realpath "$2")
outdir=$(realpath "$3")
tag=$(basename "$template" | cut -d- -f3)
[[ "$tag" =~ ^cp3[0-9]+$ ]]
minor=3.${tag#cp3}

# The sources and the build directory are the same for every version, which
# wheels.sh builds one after another: the search core, which does not depend
# on the interpreter, is compiled for the first and kept (the CMake cache
# goes, so each configures for its own CPython).
work=$root/build/wheel-arm-$tag
src=$root/build/wheel-arm/src
build=$root/build/wheel-arm/build
rm -rf "$work" "$src" "$build/CMakeCache.txt"
mkdir -p "$src" "$work/wheel"
tar -C "$src" --strip-components=1 -xzf "$sdist"
suffix=.cpython-${tag#cp}-aarch64-linux-gnu.so
# Where Python.h finds pyconfig.h, one directory for every version: the
# compiler flags, and with them the core's commands, stay the same.
pyconfig_home=$root/build/wheel-arm
mkdir -p "$pyconfig_home/include"
flags="-isystem $pyconfig_home/include"
if arm_tree "$minor"; then
  hold_arm_tree "$minor"
  python=$(arm_python "$work" "$minor")
  include=$arm_root/usr/include/python$minor
  arm_pyconfig_dir "$pyconfig_home" "$minor" >/dev/null
  # Cross-compiling, FindPython does not ask the interpreter for the module
  # suffix; the emulated interpreter says it.
  said=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
  [ "$said" = "$suffix" ]
else
  python=$(python_for "$minor")
  require_python "$python" "$minor"
  include=$(arm_headers_from_host "$work/include" "$python")
  echo "wheel-arm: no arm64 CPython $minor; headers from $python with an arm64 pyconfig.h" >&2
fi

tools=$src/packaging
QARVO_ZIG_TARGET=aarch64-linux-gnu.2.28 cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
  -DCMAKE_CXX_COMPILER="$tools/zig-c++" -DCMAKE_AR="$tools/zig-ar" \
  -DCMAKE_RANLIB="$tools/zig-ranlib" -DPython_EXECUTABLE="$python" \
  -DPython_INCLUDE_DIR="$include" "-DCMAKE_CXX_FLAGS=$flags" >/dev/null
QARVO_ZIG_TARGET=aarch64-linux-gnu.2.28 cmake --build "$build" -j "$jobs" --target qarvo
module=$(find "$build/bindings" -maxdepth 1 -name 'qarvo*.so' | head -n 1)
[ -n "$module" ]

# The x86-64 wheel's files with the module swapped and the tag changed; wheel
# pack writes the new RECORD.
python -m zipfile -e "$template" "$work/wheel"
rm "$work"/wheel/qarvo.cpython-*.so "$work"/wheel/*.dist-info/RECORD
cp "$module" "$work/wheel/qarvo$suffix"
sed -i "s/^Tag: .*/Tag: $tag-$tag-linux_aarch64/" "$work"/wheel/*.dist-info/WHEEL
python -m wheel pack -d "$outdir" "$work/wheel"
