#!/usr/bin/env bash
# Builds the aarch64 wheel for CPython 3.11 from the sdist: the extension
# cross-compiled with packaging/zig-c++ for aarch64 against glibc 2.28 and
# Debian's arm64 CPython headers (the cached arm64 root), packed beside the
# same files as the x86-64 wheel for 3.11 (stubs and metadata). Called by
# wheels.sh, which repairs and tests it.
#   .ci/wheel-arm.sh SDIST X86_64_CP311_WHEEL OUTDIR
# Needs QARVO_ZIG (the zig executable) and the wheel package on PATH's python.
set -euo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
sdist=$(realpath "$1")
template=$(realpath "$2")
outdir=$(realpath "$3")
hold_root 7 "$arm64_lock" "$arm64_stamp" "$root/.ci/arm64-root.sh" "${arm64_packages[@]}"

work=$root/build/wheel-arm
rm -rf "$work"
mkdir -p "$work/src" "$work/wheel"
tar -C "$work/src" --strip-components=1 -xzf "$sdist"
arm_py=$(arm_python "$work")

tools=$work/src/packaging
QARVO_ZIG_TARGET=aarch64-linux-gnu.2.28 cmake -S "$work/src" -B "$work/build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
  -DCMAKE_CXX_COMPILER="$tools/zig-c++" -DCMAKE_AR="$tools/zig-ar" \
  -DCMAKE_RANLIB="$tools/zig-ranlib" -DPython_EXECUTABLE="$arm_py" \
  -DPython_INCLUDE_DIR="$arm64_root/usr/include/python3.11" \
  "-DCMAKE_CXX_FLAGS=-isystem $(arm_pyconfig_dir "$work")" >/dev/null
QARVO_ZIG_TARGET=aarch64-linux-gnu.2.28 cmake --build "$work/build" -j "$jobs" --target qarvo
# Cross-compiling, FindPython does not ask the interpreter for the module
# suffix; the emulated interpreter says it.
suffix=$("$arm_py" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
[ "$suffix" = .cpython-311-aarch64-linux-gnu.so ]
module=$(find "$work/build/bindings" -maxdepth 1 -name 'qarvo*.so' | head -n 1)
[ -n "$module" ]

# The x86-64 wheel's files with the module swapped and the tag changed; wheel
# pack writes the new RECORD.
python -m zipfile -e "$template" "$work/wheel"
rm "$work"/wheel/qarvo.cpython-*.so "$work"/wheel/*.dist-info/RECORD
cp "$module" "$work/wheel/qarvo$suffix"
sed -i 's/^Tag: .*/Tag: cp311-cp311-linux_aarch64/' "$work"/wheel/*.dist-info/WHEEL
python -m wheel pack -d "$outdir" "$work/wheel"
