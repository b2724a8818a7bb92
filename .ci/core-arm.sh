#!/usr/bin/env bash
# The search core's GoogleTest suites cross-compiled for aarch64 and run under
# qemu-aarch64, so that the Advanced SIMD variant is built and exercised; the
# run must show it as the baseline and as one of the variants tested.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-core-arm}"
build=$root/build/core-arm

configure_and_build core-arm "$build" || exit 1
run_ctest "$build"

tests=(qemu-aarch64 -L /usr/aarch64-linux-gnu "$build/tests/core/qarvo_core_tests")
variants=$(variants_of "${tests[@]}")
if grep -qx neon <<<"$variants"; then
  pass
else
  fail "the neon variant was not among the tested variants ($variants)"
fi
run_step "QARVO_BACKEND=neon" env QARVO_BACKEND=neon "${tests[@]}" --gtest_brief=1 \
  --gtest_filter='Backend.*'
echo "core-arm: variants $(echo "$variants" | paste -sd,) under qemu-aarch64"
