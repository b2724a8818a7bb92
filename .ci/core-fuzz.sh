#!/usr/bin/env bash
# Builds the libFuzzer target with clang (core and target instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer) and fuzzes every
# variant against the naive scan for about a minute, starting from a copy of
# the committed seed corpus (the committed one is never written to).
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-core-fuzz}"
build=$root/build/core-fuzz
seconds=${QARVO_FUZZ_SECONDS:-60}

configure_and_build core-fuzz "$build" || exit 1

corpus=$build/corpus
rm -rf "$corpus"
cp -r "$root/tests/fuzz/corpus" "$corpus"
log=$build/fuzz.log
if "$build/tests/fuzz/fuzz_search" -max_total_time="$seconds" -max_len=4096 \
  -print_final_stats=1 "$corpus" >"$log" 2>&1; then
  pass
  grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
  echo "core-fuzz: $(grep -oE 'Done [0-9]+ runs' "$log" | tail -n 1) in ${seconds}s, no finding"
else
  tail -n 60 "$log"
  fail "the fuzzer found a difference or crashed (log: $log)"
fi
