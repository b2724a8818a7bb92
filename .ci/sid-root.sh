#!/usr/bin/env bash
# Makes sure a Debian sid root with CPython 3.14 and 3.15 (release and debug
# builds) and sid's GCC is cached on this machine, building it when it is missing or
# was left half-made.
#   .ci/sid-root.sh            prints the root's path when it is ready
# QARVO_SID_ROOT   where the root lives (default /var/cache/qarvo/sid-root)
# QARVO_SID_MIRROR Debian mirror (default: the one this host's apt uses)
#
# The root is built beside its final place and renamed into it only after the
# stamp is written, so an interrupted build never looks complete. The stamp
# holds the package list (in common.sh): adding a package rebuilds the root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=.ci/common.sh
. "$here/common.sh"

if root_ready "$sid_stamp" "${sid_packages[@]}"; then
  echo "$sid_root"
  exit 0
fi

mkdir -p "$(dirname "$sid_root")"
exec 9>"$sid_lock"
# Waits until no test run uses the root any more.
flock 9
# Another run may have finished the root while this one waited for the lock.
if root_ready "$sid_stamp" "${sid_packages[@]}"; then
  echo "$sid_root"
  exit 0
fi

mirror=$(debian_mirror)

new="$sid_root.new"
remove_tree "$new"
remove_tree "$sid_root"

start=$SECONDS
echo "sid-root: building $sid_root from $mirror" >&2
include=$(IFS=,; echo "${sid_packages[*]}")
if ! debootstrap --variant=minbase --include="$include" sid "$new" "$mirror" \
    >"$new.log" 2>&1; then
  tail -n 30 "$new.log" >&2
  [ -f "$new/debootstrap/debootstrap.log" ] && tail -n 30 "$new/debootstrap/debootstrap.log" >&2
  echo "sid-root: debootstrap failed (full log: $new.log)" >&2
  exit 1
fi
chroot "$new" apt-get clean
rm -f "$new.log"
echo "packages: ${sid_packages[*]}" >"$new/${sid_stamp##*/}"
remove_tree "$sid_root"
mv -T "$new" "$sid_root"
echo "sid-root: built in $((SECONDS - start)) s, $(du -sh --one-file-system "$sid_root" | cut -f1)" >&2
echo "$sid_root"
