#!/usr/bin/env bash
# Runs one command in a fresh copy of the tree inside the cached Debian sid
# root (built first if needed, held shared meanwhile so that no rebuild
# deletes it), with /proc and /dev mounted in a private mount namespace.
#   .ci/sid-run.sh COMMAND [args...]     run from the copy's top directory
# QARVO_SID_IMPORT  a host directory copied into the copy's build/import first
# QARVO_SID_EXPORT  a host directory that receives the copy's build/export
# QARVO_SID_KEEP=1  keeps the copy for a look afterwards
# Environment passed in: QARVO_SUITE, PYTEST_ADDOPTS and QARVO_* settings the
# command reads; everything else is a clean environment.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=.ci/common.sh
. "$here/common.sh"

hold_root 8 "$sid_lock" "$sid_stamp" "$here/sid-root.sh" "${sid_packages[@]}"

# A copy of the tree per run, so that runs from several checkouts at once do
# not share sources or build directories.
mkdir -p "$sid_root/work"
dest=$(mktemp -d "$sid_root/work/qarvo.XXXXXX")
inner=${dest#"$sid_root"}
# shellcheck disable=SC2317  # reached through the trap below
cleanup() {
  if [ "${QARVO_SID_KEEP:-0}" = 1 ]; then
    echo "sid-run: kept $dest" >&2
  else
    remove_tree "$dest"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 755 "$dest"
copy_tree "$dest"
mkdir -p "$dest/build/export"
if [ -n "${QARVO_SID_IMPORT:-}" ]; then
  mkdir -p "$dest/build/import"
  cp -a "$QARVO_SID_IMPORT/." "$dest/build/import/"
fi

# Debian's python3.1xd include directories are sets of symlinks into the
# release ones, beside their own pyconfig.h. CMake passes them with -isystem,
# and GCC resolves symlinks in system header paths, so Python.h would then
# pick up the release pyconfig.h: a module built for a debug interpreter would
# lack Py_DEBUG and its reference counting would escape
# sys.gettotalrefcount().
canon=-fno-canonical-system-headers
# Everything comes from Debian's packages in the root (QARVO_SYSTEM_SITE=1 lets
# virtual environments see them): nothing is fetched while the tests run.
passed=(PATH=/usr/local/bin:/usr/bin:/bin HOME=/root LANG=C.UTF-8 PIP_NO_INPUT=1
  QARVO_SYSTEM_SITE=1 CFLAGS="$canon" CXXFLAGS="$canon")
while IFS='=' read -r name _; do
  passed+=("$name=${!name}")
done < <(env | grep -E '^(QARVO_[A-Z0-9_]+|PYTEST_ADDOPTS)=' | grep -vE '^QARVO_SID_')

status=0
unshare --mount --propagation private -- "$here/sid-chroot.sh" "$sid_root" \
  /usr/bin/env -i --chdir="$inner" "${passed[@]}" "$@" ||
  status=$?
if [ -n "${QARVO_SID_EXPORT:-}" ]; then
  mkdir -p "$QARVO_SID_EXPORT"
  cp -a "$dest/build/export/." "$QARVO_SID_EXPORT/"
fi
exit "$status"
