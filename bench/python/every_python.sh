#!/usr/bin/env bash
# Runs one of the Python benchmarks on every installed CPython and prints one
# table over them.
#   bench/python/every_python.sh percall [percall.py args...]
#   bench/python/every_python.sh matches [compare_matches.py args...]
#   bench/python/every_python.sh multi [compare_multi.py args...]
#   bench/python/every_python.sh ignore_case [compare_ignore_case.py args...]
#   bench/python/every_python.sh byte_sets [compare_byte_sets.py args...]
# Interpreters: pyenv's 3.11, 3.12 and 3.13 (the newest patch release of each
# under ~/.pyenv/versions), then python3.14 and python3.15 in the cached
# Debian sid root (see .ci/sid-root.sh), where the module is built with sid's
# GCC. QARVO_BENCH_DEBUG=1 adds the sid debug builds (python3.14d,
# python3.15d), labelled as such; their numbers say little about a release
# interpreter. QARVO_BENCH_PYTHONS picks some of them ("3.14 3.15"; default
# all five); results already in build/<benchmark>/ for the others stay and
# join the table. Results go to build/<benchmark>/<label>.json; the table is
# <benchmark>_table.py's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
bench=${1:?which benchmark: percall, matches, multi, ignore_case or byte_sets}
shift
case "$bench" in
  percall | matches | multi | ignore_case | byte_sets) ;;
  *) echo "every_python: no benchmark '$bench' (percall, matches, multi, ignore_case, byte_sets)" >&2 && exit 2 ;;
esac
out="$repo/build/$bench"
mkdir -p "$out"
wanted=" ${QARVO_BENCH_PYTHONS:-3.11 3.12 3.13 3.14 3.15} "
[ -n "${QARVO_BENCH_PYTHONS:-}" ] || rm -f "$out"/*.json

for minor in 11 12 13; do
  [[ "$wanted" == *" 3.$minor "* ]] || continue
  py=$(find "${PYENV_ROOT:-$HOME/.pyenv}"/versions -maxdepth 3 -path "*/3.$minor.*/bin/python3" 2>/dev/null |
    sort -V | tail -n1 || true)
  [ -n "$py" ] || { echo "$bench: no pyenv CPython 3.$minor, skipped" >&2; continue; }
  echo "$bench: CPython 3.$minor ($py)" >&2
  "$here/one_python.sh" "$bench" "$py" "$repo/build/$bench-3.$minor" "$out/3.$minor.json" "$@"
done

# shellcheck source=.ci/common.sh
. "$repo/.ci/common.sh"
sid_pythons=()
for minor in 14 15; do
  [[ "$wanted" == *" 3.$minor "* ]] && sid_pythons+=("python3.$minor")
done
[ "${QARVO_BENCH_DEBUG:-0}" = 1 ] && sid_pythons+=(python3.14d python3.15d)
if [ -d "$sid_root" ]; then
  # Held shared for the whole run, so that no rebuild deletes the root
  # meanwhile; a root that is not ready is skipped, not built.
  exec 8>"$sid_lock"
  flock -s 8
fi
if [ -d "$sid_root" ] && root_ready "$sid_stamp" "${sid_packages[@]}"; then
  mkdir -p "$sid_root/work"
  dest=$(mktemp -d "$sid_root/work/$bench.XXXXXX")
  inner=${dest#"$sid_root"}
  trap 'remove_tree "$dest"' EXIT
  chmod 755 "$dest"
  copy_tree "$dest"
  # pip inside the root verifies PyPI's certificate against the host's CA
  # bundle: where the host reaches PyPI through a certificate of its own,
  # the root's bundle lacks it and every peer install fails.
  host_ca=/etc/ssl/certs/ca-certificates.crt
  pip_cert=()
  if [ -r "$host_ca" ]; then
    mkdir -p "$dest/build"
    cp "$host_ca" "$dest/build/host-ca.crt"
    pip_cert=(PIP_CERT="$inner/build/host-ca.crt")
  fi
  # The haystacks' placement (bench/python/placement.py) goes in with them.
  phase=()
  [ -n "${QARVO_BENCH_PHASE:-}" ] && phase=(QARVO_BENCH_PHASE="$QARVO_BENCH_PHASE")
  for py in "${sid_pythons[@]}"; do
    echo "$bench: sid $py" >&2
    # A private mount namespace takes /proc and /dev with it when it ends.
    unshare --mount --propagation private -- "$repo/.ci/sid-chroot.sh" "$sid_root" \
      /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
      CXXFLAGS=-fno-canonical-system-headers "${pip_cert[@]}" "${phase[@]}" \
      bash "$inner/bench/python/one_python.sh" "$bench" "$py" "$inner/build/$py" \
      "$inner/build/$py.json" "$@"
    label=${py#python}
    cp "$dest/build/$py.json" "$out/$label.json"
  done
else
  echo "$bench: no ready sid root at $sid_root, 3.14 and 3.15 skipped" >&2
fi

python3 "$here/${bench}_table.py" "$out"/*.json
