#!/usr/bin/env bash
# Builds the libFuzzer target with clang (core and target instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer) and fuzzes every
# variant against the naive scan for about a minute, and on the inputs
# stretched to long haystacks for half a minute more, each starting from a
# copy of the committed seed corpus (the committed one is never written to).
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-core-fuzz}"
build=$root/build/core-fuzz
seconds=${QARVO_FUZZ_SECONDS:-60}

configure_and_build core-fuzz "$build" || exit 1

long_seconds=${QARVO_FUZZ_LONG_SECONDS:-30}

# target, seconds: fuzzes one target from a copy of the seed corpus.
fuzz() {
  local target=$1 time=$2
  local corpus=$build/corpus-$target log=$build/$target.log
  rm -rf "$corpus"
  cp -r "$root/tests/fuzz/corpus" "$corpus"
  if "$build/tests/fuzz/$target" -max_total_time="$time" -max_len=4096 -artifact_prefix="$build/" \
    -print_final_stats=1 "$corpus" >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
    echo "core-fuzz: $target: $(grep -oE 'Done [0-9]+ runs' "$log" | tail -n 1) in ${time}s, no finding"
  else
    tail -n 60 "$log"
    echo "core-fuzz: $target found a difference or crashed (log: $log)"
    return 1
  fi
}

# The short inputs as they are, then each stretched to 4 to 300 KiB (the
# wide variants' long paths; milliseconds per input under the sanitizers).
if fuzz fuzz_search "$seconds" && fuzz fuzz_search_long "$long_seconds"; then
  pass
else
  fail "the fuzzer found a difference or crashed"
fi
