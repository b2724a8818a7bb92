#!/usr/bin/env bash
# Runs the Python suites inside the cached Debian sid root: once on the
# release build of CPython 3.14 and once on its debug build, whose
# sys.gettotalrefcount() the leak tests read. sid's GCC builds the module
# there with warnings as errors, so this is also the second compiler's build.
#   .ci/sid-tests.sh [extra pytest args...]
# QARVO_SID_PYTHONS  interpreters to run (default "python3.14 python3.14d")
# QARVO_SID_ROOT     see sid-root.sh
#
# The repository's files are copied into the root, so the builds there never
# share a directory with the host's. Everything needed comes from Debian's
# packages in the root: nothing is fetched while the tests run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=sid-common.sh
. "$here/sid-common.sh"

# Hold the root shared for the whole run, so that no rebuild deletes it
# meanwhile; build it first (which takes the lock exclusively) if needed.
mkdir -p "$(dirname "$sid_root")"
exec 8>"$sid_lock"
while :; do
  flock -s 8
  sid_root_ready && break
  flock -u 8
  "$here/sid-root.sh" >/dev/null
done

# A copy of the tree per run, so that runs from several checkouts at once do
# not share sources or build directories. QARVO_SID_KEEP=1 keeps it for a look
# afterwards.
mkdir -p "$sid_root/work"
dest=$(mktemp -d "$sid_root/work/qarvo.XXXXXX")
inner=${dest#"$sid_root"}
cleanup() {
  if [ "${QARVO_SID_KEEP:-0}" = 1 ]; then
    echo "sid-tests: kept $dest" >&2
  else
    sid_remove_tree "$dest"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 755 "$dest"
if git -C "$repo" rev-parse --git-dir >/dev/null 2>&1; then
  # Tracked files and new files not ignored: what the next commit would hold.
  git -C "$repo" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$repo/$f" ] && printf '%s\0' "$f"; done |
    tar -C "$repo" --null -T - -cf - | tar -C "$dest" -xf -
else
  tar -C "$repo" --exclude='./build*' --exclude=.git -cf - . | tar -C "$dest" -xf -
fi

pythons=(${QARVO_SID_PYTHONS:-python3.14 python3.14d})
gxx=$(chroot "$sid_root" g++ -dumpfullversion)
mkdir -p "$dest/build"

# Debian's python3.14d include directory is a set of symlinks into
# python3.14's, beside its own pyconfig.h. CMake passes it with -isystem, and
# GCC resolves symlinks in system header paths, so Python.h would then pick up
# the release pyconfig.h: the module would build without Py_DEBUG and its
# reference counting would escape sys.gettotalrefcount().
canon=-fno-canonical-system-headers

summaries=()
failed=0
for py in "${pythons[@]}"; do
  log="$dest/build/sid-$py.log"
  start=$SECONDS
  status=0
  # A private mount namespace takes /proc and /dev with it when it ends.
  unshare --mount --propagation private -- "$here/sid-chroot.sh" "$sid_root" \
    /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
    QARVO_SYSTEM_SITE=1 PIP_NO_INPUT=1 CFLAGS="$canon" CXXFLAGS="$canon" ${PYTEST_ADDOPTS:+PYTEST_ADDOPTS="$PYTEST_ADDOPTS"} \
    bash "$inner/.ci/python-tests.sh" "$py" "$@" 2>&1 | tee "$log" || status=$?
  version=$(chroot "$sid_root" "$py" -c 'import sys; print(sys.version.split()[0] + sys.abiflags)' 2>/dev/null || echo "?")
  tag=$(chroot "$sid_root" "$py" -c 'import sys; print(sys.implementation.cache_tag + sys.abiflags)' 2>/dev/null || echo "?")
  # pytest's closing line, e.g. "120 passed, 3 skipped in 4.20s".
  result=$(grep -E '^=*[ ]*([0-9]+ [a-z]+.* in [0-9.]+s|no tests ran)' "$log" | tail -n1 | tr -d '=' | sed 's/^ *//;s/ *$//' || true)
  if [ "$status" = 0 ] && [ "${version%d}" != "$version" ]; then
    "$here/sid-check-debug.sh" "$sid_root" "$inner/build" "$tag" || status=$?
  fi
  if [ "$status" = 0 ]; then verdict=ok; else verdict="FAILED (exit $status)"; failed=1; fi
  summaries+=("sid $py ($version, g++ $gxx): $verdict, ${result:-no pytest result}, $((SECONDS - start)) s")
done

for line in "${summaries[@]}"; do echo "$line"; done
exit "$failed"
