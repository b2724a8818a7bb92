#!/usr/bin/env bash
# The search core's GoogleTest suites cross-compiled for aarch64 and run under
# qemu-aarch64, so that the Advanced SIMD variant is built and exercised; the
# run must show it as the baseline and as one of the variants tested.
set -Eeuo pipefail
source "$(dirname "$0")/core-common.sh"
trap 'echo "core-arm: 0 passed, 1 failed"' ERR
build=$root/build/core-arm

configure_and_build "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DQARVO_WERROR=ON -DQARVO_BUILD_TESTS=ON
ctest --test-dir "$build" --output-on-failure -j "$jobs"

tests=(qemu-aarch64 -L /usr/aarch64-linux-gnu "$build/tests/core/qarvo_core_tests")
variants=$(variants_of "${tests[@]}")
if ! grep -qx neon <<<"$variants"; then
  echo "core-arm: the neon variant was not among the tested variants ($variants)"
  echo "core-arm: 1 passed, 1 failed"
  exit 1
fi
QARVO_BACKEND=neon "${tests[@]}" --gtest_brief=1 --gtest_filter='Backend.*'
echo "core-arm: variants $(echo $variants | tr ' ' ',') under qemu-aarch64"
echo "core-arm: 2 passed, 0 failed"
