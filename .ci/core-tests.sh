#!/usr/bin/env bash
# The search core's GoogleTest suites on the host, warnings as errors: ctest
# once (every suite runs on every variant the CPU supports), the test binary
# again once per variant with QARVO_BACKEND naming it (the process-wide choice
# must follow) and once with an unknown name (it must fall back to the
# widest), then ctest of a build forced to the scalar emulation.
set -Eeuo pipefail
source "$(dirname "$0")/core-common.sh"
runs=0
trap 'echo "core-tests: $runs passed, 1 failed"' ERR
build=$root/build/core-tests
build_scalar=$root/build/core-tests-scalar

configure_and_build "$build" -DQARVO_WERROR=ON -DQARVO_BUILD_TESTS=ON
ctest --test-dir "$build" --output-on-failure -j "$jobs"
runs=$((runs + 1))

tests=$build/tests/core/qarvo_core_tests
variants=$(variants_of "$tests")
for variant in $variants; do
  echo "== QARVO_BACKEND=$variant"
  QARVO_BACKEND=$variant "$tests" --gtest_brief=1
  runs=$((runs + 1))
done
echo "== QARVO_BACKEND=no-such-variant"
QARVO_BACKEND=no-such-variant "$tests" --gtest_brief=1 --gtest_filter='Backend.*'
runs=$((runs + 1))

configure_and_build "$build_scalar" -DQARVO_WERROR=ON -DQARVO_BUILD_TESTS=ON \
  -DQARVO_FORCE_SCALAR=ON
ctest --test-dir "$build_scalar" --output-on-failure -j "$jobs"
runs=$((runs + 1))

echo "core-tests: variants $(echo $variants | tr ' ' ','); scalar-only build passed too"
echo "core-tests: $runs passed, 0 failed"
