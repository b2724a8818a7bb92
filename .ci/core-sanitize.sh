#!/usr/bin/env bash
# The search core's GoogleTest suites built with clang and AddressSanitizer
# plus UndefinedBehaviorSanitizer (any report aborts the test), warnings as
# errors.
set -Eeuo pipefail
source "$(dirname "$0")/core-common.sh"
trap 'echo "core-sanitize: 0 passed, 1 failed"' ERR
build=$root/build/core-sanitize
clangxx=$(command -v clang++-14 || command -v clang++)

configure_and_build "$build" -DCMAKE_CXX_COMPILER="$clangxx" -DQARVO_WERROR=ON \
  -DQARVO_BUILD_TESTS=ON -DQARVO_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$build" --output-on-failure -j "$jobs"
echo "core-sanitize: 1 passed, 0 failed"
