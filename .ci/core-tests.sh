#!/usr/bin/env bash
# The search core's GoogleTest suites on the host, warnings as errors: ctest
# once (every suite runs on every variant the CPU supports), the tests of the
# process-wide choice again once per variant with QARVO_BACKEND naming it (the
# choice must follow) and once with an unknown name, then ctest of a build forced to
# the scalar emulation.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-core}"
build=$root/build/core-tests
build_scalar=$root/build/core-tests-scalar

configure_and_build core "$build" || exit 1
run_ctest "$build"

tests=$build/tests/core/qarvo_core_tests
variants=$(variants_of "$tests")
# The per-variant suites ran above on every variant through their tables;
# what follows the process-wide choice is the dispatch tests and MatchScan,
# which calls the chosen variant's searches.
for variant in $variants; do
  run_step "QARVO_BACKEND=$variant" env QARVO_BACKEND="$variant" "$tests" --gtest_brief=1 \
    --gtest_filter='Backend.*:MatchScan.*'
done
run_step "QARVO_BACKEND=no-such-variant" env QARVO_BACKEND=no-such-variant "$tests" \
  --gtest_brief=1 --gtest_filter='Backend.*'

configure_and_build core-scalar "$build_scalar" || exit 1
run_ctest "$build_scalar"

echo "core-tests: variants $(echo "$variants" | paste -sd,); scalar-only build too"
