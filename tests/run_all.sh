#!/usr/bin/env bash
# Runs every test suite of qarvo and prints one summary line per suite.
# Installs what the suites need first (Debian packages with apt-get, Python
# packages with pip into per-suite virtual environments), so it works on a
# fresh machine. Exits non-zero if any suite failed.
#
#   bash tests/run_all.sh            all suites
#   QARVO_SUITES="lint python-3.11" bash tests/run_all.sh   a selection
#
# Every suite script ends its output with one line "NAME: N passed, M
# failed"; a suite passed when it exited 0, printed that line and M is 0.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
mkdir -p build/logs

apt_packages=(g++ ccache cmake ninja-build clang libclang-rt-14-dev clang-format libgtest-dev
  libbenchmark-dev g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user debootstrap binutils
  python3-venv shellcheck)
# shellcheck source=.ci/common.sh
. .ci/common.sh
if ! apt_install "${apt_packages[@]}"; then
  echo "FAILED: could not install Debian packages"
  exit 1
fi
# A missing interpreter leaves its path empty here; its suite then fails.
py311=$(python_for 3.11)
py312=$(python_for 3.12)
py313=$(python_for 3.13)

# The suites: a name, then the command. One line each. They start in this
# order, as many at a time as QARVO_PARALLEL says (below), so the longest
# come first and the short ones fill in at the end.
# The fuzzers get two thirds of their default time (QARVO_FUZZ_SECONDS) in
# a run of every suite.
# QARVO_REPEAT=1 marks a suite that runs the Python tests again on another
# build besides python-3.11's full run: its property tests draw fewer
# examples (tests/python/conftest.py).
suite_table=(
  "lint             bash tests/lint.sh"
  "wheels           QARVO_REPEAT=1 bash .ci/wheels.sh"
  "python-arm       bash .ci/python-arm.sh"
  "core             bash .ci/core-tests.sh"
  "python-sanitize  bash .ci/python-sanitize.sh '$py311' 3.11"
  "core-arm         bash .ci/core-arm.sh"
  "core-sanitize    bash .ci/core-sanitize.sh"
  "python-3.14d     QARVO_REPEAT=1 bash .ci/sid-run.sh bash .ci/python-tests.sh python3.14d 3.14"
  "python-fuzz      QARVO_FUZZ_SECONDS=40 bash .ci/python-fuzz.sh '$py311' 3.11"
  "python-3.15d     QARVO_REPEAT=1 bash .ci/sid-run.sh bash .ci/python-tests.sh python3.15d 3.15"
  "core-s390x       bash .ci/core-s390x.sh"
  "python-3.11      bash .ci/python-tests.sh '$py311' 3.11"
  "core-fuzz        QARVO_FUZZ_SECONDS=40 QARVO_FUZZ_LONG_SECONDS=20 bash .ci/core-fuzz.sh"
  "python-3.14      bash .ci/sid-run.sh bash .ci/python-tests.sh python3.14 3.14"
  "python-3.15      bash .ci/sid-run.sh bash .ci/python-tests.sh python3.15 3.15"
  "python-3.12      QARVO_REPEAT=1 bash .ci/python-tests.sh '$py312' 3.12"
  "python-3.13      QARVO_REPEAT=1 bash .ci/python-tests.sh '$py313' 3.13"
  "python-backends  QARVO_REPEAT=1 bash .ci/python-backends.sh '$py311' 3.11"
  "python-large     bash .ci/python-large.sh '$py311' 3.11"
)
declare -A suites=()
order=()
for entry in "${suite_table[@]}"; do
  name=${entry%% *}
  command=${entry#"$name"}
  suites[$name]=${command#"${command%%[! ]*}"}
  order+=("$name")
done
if [ -n "${QARVO_SUITES:-}" ]; then
  read -ra selected <<<"$QARVO_SUITES"
else
  selected=("${order[@]}")
fi

# Suites that share a build directory or an environment run one after the
# other, in the table's order; the others run side by side.
serial_groups=("python-3.11 python-backends python-large")
declare -A group_of=()
for group in "${serial_groups[@]}"; do
  for name in $group; do group_of[$name]=$group; done
done

# run_suite NAME: runs one suite into its log and writes its summary line to
# build/logs/NAME.result.
run_suite() {
  local name=$1 log="build/logs/$1.log" start status=0 closing failed verdict line
  start=$(date +%s)
  QARVO_SUITE=$name bash -c "${suites[$name]}" >"$log" 2>&1 </dev/null || status=$?
  # The suite's own closing line.
  closing=$(grep -E '^[A-Za-z0-9_.+-]+: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  failed=$(sed -nE 's/.* ([0-9]+) failed$/\1/p' <<<"$closing")
  if [ "$status" -eq 0 ] && [ -n "$closing" ] && [ "$failed" -eq 0 ]; then
    verdict=passed
  else
    verdict=FAILED
  fi
  line="$name: $verdict in $(($(date +%s) - start))s -- ${closing#*: }"
  [ -n "$closing" ] || line+="no closing line (exit $status), see $log"
  echo "$line" >"build/logs/$name.result"
}

# blocked NAME: whether a suite listed before NAME in its serial group has
# not finished yet.
blocked() {
  local group=${group_of[$1]:-} other
  [ -n "$group" ] || return 1
  for other in $group; do
    [ "$other" = "$1" ] && return 1
    [ -n "${running_pid[$other]:-}" ] && return 0
    [[ " ${pending[*]} " == *" $other "* ]] && return 0
  done
  return 1
}

# Most of a run is spent in single-threaded work (test runners, emulated
# processes, fuzzers with a fixed time), so two suites at a time keep both
# cores of a small machine busy. QARVO_PARALLEL=1 runs one at a time.
parallel=${QARVO_PARALLEL:-2}
declare -A running_pid=()
pending=()
for name in "${selected[@]}"; do
  if [ -n "${suites[$name]:-}" ]; then
    pending+=("$name")
    rm -f "build/logs/$name.result"
  else
    echo "$name: FAILED -- no such suite (known: ${order[*]})" >"build/logs/$name.result"
    cat "build/logs/$name.result"
  fi
done
total_start=$(date +%s)
while [ ${#pending[@]} -gt 0 ] || [ ${#running_pid[@]} -gt 0 ]; do
  waiting=()
  for name in "${pending[@]}"; do
    if [ ${#running_pid[@]} -lt "$parallel" ] && ! blocked "$name"; then
      echo "== $name: ${suites[$name]} (log: build/logs/$name.log)"
      run_suite "$name" &
      running_pid[$name]=$!
    else
      waiting+=("$name")
    fi
  done
  pending=("${waiting[@]}")
  [ ${#running_pid[@]} -gt 0 ] || continue
  finished=
  wait -n -p finished "${running_pid[@]}" || true
  for name in "${!running_pid[@]}"; do
    # The one wait reported, and any other that ended meanwhile.
    if [ "${running_pid[$name]}" = "$finished" ] || ! kill -0 "${running_pid[$name]}" 2>/dev/null; then
      unset "running_pid[$name]"
      if ! grep -q "^$name: passed " "build/logs/$name.result" 2>/dev/null; then
        tail -n 40 "build/logs/$name.log"
      fi
      cat "build/logs/$name.result" 2>/dev/null || echo "$name: FAILED -- no result"
    fi
  done
done

results=()
failures=0
for name in "${selected[@]}"; do
  line=$(cat "build/logs/$name.result" 2>/dev/null || echo "$name: FAILED -- no result")
  [[ "$line" == "$name: passed "* ]] || failures=$((failures + 1))
  results+=("$line")
done

echo
echo "== summary ($(($(date +%s) - total_start))s, $parallel at a time) =="
printf '%s\n' "${results[@]}"
echo "suites: $((${#selected[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
