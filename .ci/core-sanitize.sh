#!/usr/bin/env bash
# The search core's GoogleTest suites built with clang and AddressSanitizer
# plus UndefinedBehaviorSanitizer (any report aborts the test), warnings as
# errors.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-core-sanitize}"
build=$root/build/core-sanitize

configure_and_build core-sanitize "$build" || exit 1
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest "$build"
