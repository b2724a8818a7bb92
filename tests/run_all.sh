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

apt_packages=(g++ cmake ninja-build clang libclang-rt-14-dev clang-format libgtest-dev
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

# The suites in the order they run: a name, then the command. One line each.
# QARVO_REPEAT=1 marks a suite that runs the Python tests again on another
# build after python-3.11's full run: its property tests draw fewer examples
# (tests/python/conftest.py).
suite_table=(
  "lint             bash tests/lint.sh"
  "core             bash .ci/core-tests.sh"
  "core-sanitize    bash .ci/core-sanitize.sh"
  "core-arm         bash .ci/core-arm.sh"
  "core-s390x       bash .ci/core-s390x.sh"
  "core-fuzz        bash .ci/core-fuzz.sh"
  "python-3.11      bash .ci/python-tests.sh '$py311' 3.11"
  "python-3.12      QARVO_REPEAT=1 bash .ci/python-tests.sh '$py312' 3.12"
  "python-3.13      QARVO_REPEAT=1 bash .ci/python-tests.sh '$py313' 3.13"
  "python-backends  QARVO_REPEAT=1 bash .ci/python-backends.sh '$py311' 3.11"
  "python-sanitize  bash .ci/python-sanitize.sh '$py311' 3.11"
  "python-fuzz      bash .ci/python-fuzz.sh '$py311' 3.11"
  "python-large     bash .ci/python-large.sh '$py311' 3.11"
  "python-3.14      bash .ci/sid-run.sh bash .ci/python-tests.sh python3.14 3.14"
  "python-3.14d     QARVO_REPEAT=1 bash .ci/sid-run.sh bash .ci/python-tests.sh python3.14d 3.14"
  "python-3.15      bash .ci/sid-run.sh bash .ci/python-tests.sh python3.15 3.15"
  "python-3.15d     QARVO_REPEAT=1 bash .ci/sid-run.sh bash .ci/python-tests.sh python3.15d 3.15"
  "python-arm       bash .ci/python-arm.sh"
  "wheels           QARVO_REPEAT=1 bash .ci/wheels.sh"
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

results=()
failures=0
total_start=$(date +%s)
for name in "${selected[@]}"; do
  log="build/logs/$name.log"
  start=$(date +%s)
  if [ -z "${suites[$name]:-}" ]; then
    line="$name: FAILED -- no such suite (known: ${order[*]})"
    failures=$((failures + 1))
    echo "$line"
    results+=("$line")
    continue
  fi
  echo "== $name: ${suites[$name]} (log: $log)"
  status=0
  QARVO_SUITE=$name bash -c "${suites[$name]}" >"$log" 2>&1 </dev/null || status=$?
  # The suite's own closing line.
  closing=$(grep -E '^[A-Za-z0-9_.+-]+: [0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  failed=$(sed -nE 's/.* ([0-9]+) failed$/\1/p' <<<"$closing")
  if [ "$status" -eq 0 ] && [ -n "$closing" ] && [ "$failed" -eq 0 ]; then
    verdict=passed
  else
    verdict=FAILED
    failures=$((failures + 1))
    tail -n 40 "$log"
  fi
  line="$name: $verdict in $(($(date +%s) - start))s -- ${closing#*: }"
  [ -n "$closing" ] || line+="no closing line (exit $status), see $log"
  echo "$line"
  results+=("$line")
done

echo
echo "== summary ($(($(date +%s) - total_start))s) =="
printf '%s\n' "${results[@]}"
echo "suites: $((${#selected[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
