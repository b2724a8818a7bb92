#!/usr/bin/env bash
# Coverage-guided fuzzing of the module's Python surface with atheris, against
# the module built with AddressSanitizer and UndefinedBehaviorSanitizer.
# Replays the committed corpus first, then fuzzes for a fixed time from a copy
# of it (the committed one is never written to).
#
# The module is built with clang and -fsanitize=fuzzer-no-link, and atheris's
# own ASan runtime with libFuzzer inside is preloaded, so that the fuzzer sees
# the coverage of the module's native code as well as of the Python code.
# (GCC's libasan, as python-sanitize.sh uses it, would take over libFuzzer's
# coverage callbacks.) That runtime has no C++ part of UBSan, so the vptr and
# function checks are left out. GCC 12's libstdc++ needs clang 15 or newer
# for std::source_location.
#   .ci/python-fuzz.sh PYTHON [MINOR]
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
seconds=${QARVO_FUZZ_SECONDS:-60}
python_suite_start python-fuzz "$@" || exit 1
build="$root/build/python-fuzz"
venv="$root/build/venv-fuzz"

if ! command -v clang++-16 >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq clang-16 >/dev/null; } || exit 1
fi
[ -x "$venv/bin/python" ] || "$py" -m venv "$venv" || exit 1
# atheris ships wheels (with its sanitizer runtimes) for CPython 3.11 on x86-64.
"$venv/bin/python" -m pip install --quiet --disable-pip-version-check atheris numpy || exit 1

# The second list element of QARVO_SANITIZE lands after -fsanitize=...,
# where it can switch checks off again.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  "-DQARVO_SANITIZE=address,undefined;-fno-sanitize=vptr,function" -DQARVO_WERROR=ON \
  -DPython_EXECUTABLE="$venv/bin/python" >/dev/null &&
  cmake --build "$build" --target qarvo -j "$jobs" >/dev/null || exit 1

preload="$("$venv/bin/python" -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so"
corpus="$build/corpus"
rm -rf "$corpus"
cp -r "$root/tests/fuzz/python/corpus" "$corpus"
log="$build/fuzz.log"
harness="$root/tests/fuzz/python/fuzz_module.py"
# The interpreter is not instrumented: no leak report (it would list the
# interpreter's own allocations), and a small quarantine keeps the RSS flat.
fuzz_env=(env LD_PRELOAD="$preload" PYTHONPATH="$build/bindings"
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:quarantine_size_mb=16
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

run_step "replaying $(find "$corpus" -type f | wc -l) saved inputs" \
  "${fuzz_env[@]}" "$venv/bin/python" "$harness" --replay "$corpus"

# fuzz_from_empty NAME HARNESS SECONDS WHAT: a shorter run of one of the
# other harnesses, from an empty corpus of its own.
fuzz_from_empty() {
  local name=$1 script=$2 time=$3 what=$4
  local corpus_dir=$build/corpus-$name fuzz_log=$build/fuzz-$name.log
  rm -rf "$corpus_dir"
  mkdir -p "$corpus_dir"
  echo "== fuzzing $what for ${time}s"
  if (cd "$build" && "${fuzz_env[@]}" "$venv/bin/python" "$root/tests/fuzz/python/$script" \
    -max_total_time="$time" -max_len=256 -timeout=20 -rss_limit_mb=3000 \
    "$corpus_dir" >"$fuzz_log" 2>&1); then
    pass
    echo "python-fuzz: $name $(grep -oE 'Done [0-9]+ runs' "$fuzz_log" | tail -n 1), no finding"
  else
    grep -v '^#' "$fuzz_log" | tail -n 60
    fail "the fuzzer found an input of $what that fails (log: $fuzz_log)"
  fi
}

# The searches beyond the first occurrence, against bytes' own methods, and
# MultiFinder against a plain model of re's alternation.
fuzz_from_empty searches fuzz_searches.py $((seconds / 2)) \
  "find, rfind, count, finditer, find_all, Finder"
fuzz_from_empty multi fuzz_multi.py $((seconds / 4)) MultiFinder

echo "== fuzzing for ${seconds}s under ASan+UBSan"
cd "$build" || exit 1
if "${fuzz_env[@]}" "$venv/bin/python" "$harness" -max_total_time="$seconds" -max_len=512 \
  -timeout=20 -rss_limit_mb=3000 -print_final_stats=1 "$corpus" >"$log" 2>&1; then
  pass
  grep -E '^(Done|stat::number_of_executed_units)' "$log" || true
  echo "python-fuzz: $(grep -oE 'Done [0-9]+ runs' "$log" | tail -n 1) in ${seconds}s, no finding"
else
  grep -v '^#' "$log" | tail -n 60
  fail "the fuzzer found an input that fails (log: $log)"
fi
