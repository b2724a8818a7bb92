#!/usr/bin/env bash
# Runs every test suite of qarvo and prints one summary line per suite.
# Installs what the suites need first (Debian packages with apt-get, Python
# packages with pip into per-suite virtual environments), so it works on a
# fresh machine. Exits non-zero if any suite failed.
#
#   bash tests/run_all.sh            all suites
#   QARVO_SUITES="lint python-3.11" bash tests/run_all.sh   a selection
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
mkdir -p build/logs

apt_packages=(g++ cmake ninja-build clang libclang-rt-14-dev clang-format libgtest-dev
  libbenchmark-dev g++-aarch64-linux-gnu qemu-user debootstrap binutils python3-venv)
missing=()
for package in "${apt_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing ${missing[*]} =="
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null || {
    echo "FAILED: could not install Debian packages"; exit 1; }
fi

pyenv_python() {  # the pyenv interpreter of a minor version, else python3.X on PATH
  local found
  found=$(ls -d /root/.pyenv/versions/"$1".*/bin/python3 2>/dev/null | sort -V | tail -n 1)
  [ -n "$found" ] && echo "$found" || command -v "python$1"
}
py311=$(pyenv_python 3.11); py312=$(pyenv_python 3.12); py313=$(pyenv_python 3.13)

declare -A suites=(
  [lint]="bash tests/lint.sh"
  [core]="bash .ci/core-tests.sh"
  [core-sanitize]="bash .ci/core-sanitize.sh"
  [core-arm]="bash .ci/core-arm.sh"
  [core-s390x]="bash .ci/core-s390x.sh"
  [core-fuzz]="bash .ci/core-fuzz.sh"
  [python-3.11]="bash .ci/python-tests.sh $py311"
  [python-3.12]="bash .ci/python-tests.sh $py312"
  [python-3.13]="bash .ci/python-tests.sh $py313"
  [python-backends]="bash .ci/python-backends.sh $py311"
  [python-sanitize]="bash .ci/python-sanitize.sh $py311"
  [python-fuzz]="bash .ci/python-fuzz.sh $py311"
  [python-large]="bash .ci/python-large.sh $py311"
  [python-3.14]="bash .ci/sid-tests.sh"
)
order=(lint core core-sanitize core-arm core-s390x core-fuzz python-3.11 python-3.12 python-3.13
  python-backends python-sanitize python-fuzz python-large python-3.14)
selected=(${QARVO_SUITES:-${order[@]}})

results=()
failures=0
for name in "${selected[@]}"; do
  log="build/logs/$name.log"
  start=$(date +%s)
  echo "== $name: ${suites[$name]} (log: $log)"
  if bash -c "${suites[$name]}" >"$log" 2>&1; then
    status=passed
  else
    status=FAILED
    failures=$((failures + 1))
    tail -n 40 "$log"
  fi
  # The runner's own closing line(s), e.g. pytest's "N passed in Xs".
  summary=$(grep -E '([0-9]+ (passed|failed))|tests passed|Done [0-9]+ runs|SUMMARY|: OK|PASSED' "$log" | tail -n 3 | tr '\n' ' ')
  line="$name: $status in $(( $(date +%s) - start ))s -- ${summary:-see $log}"
  echo "$line"
  results+=("$line")
done

echo
echo "== summary =="
printf '%s\n' "${results[@]}"
echo "suites: $(( ${#selected[@]} - failures )) passed, $failures failed"
if [ "$failures" -gt 0 ]; then
  exit 1
fi
