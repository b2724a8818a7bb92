#!/usr/bin/env bash
# Builds the libFuzzer target with clang (core and target instrumented for
# coverage, AddressSanitizer and UndefinedBehaviorSanitizer) and fuzzes every
# variant against the naive scan for about a minute, starting from a copy of
# the committed seed corpus (the committed one is never written to).
set -Eeuo pipefail
source "$(dirname "$0")/core-common.sh"
trap 'echo "core-fuzz: 0 passed, 1 failed"' ERR
build=$root/build/core-fuzz
clangxx=$(command -v clang++-14 || command -v clang++)
seconds=${QARVO_FUZZ_SECONDS:-60}

configure_and_build "$build" -DCMAKE_CXX_COMPILER="$clangxx" -DQARVO_WERROR=ON \
  -DQARVO_BUILD_FUZZ=ON -DQARVO_BUILD_TESTS=OFF -DQARVO_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link

corpus=$build/corpus
rm -rf "$corpus"
cp -r "$root/tests/fuzz/corpus" "$corpus"
log=$build/fuzz.log
if ! "$build/tests/fuzz/fuzz_search" -max_total_time="$seconds" -max_len=4096 \
  -print_final_stats=1 "$corpus" >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "core-fuzz: 0 passed, 1 failed"
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
echo "core-fuzz: $(grep -oE 'Done [0-9]+ runs' "$log" | tail -n 1) in ${seconds}s, no finding"
echo "core-fuzz: 1 passed, 0 failed"
