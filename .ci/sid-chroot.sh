#!/usr/bin/env bash
# Runs one command inside the sid root with /proc and /dev mounted, and
# unmounts both again however the command ends.
#   .ci/sid-chroot.sh <root> <command> [args...]
# sid-run.sh starts this in a private mount namespace, where the mounts also
# vanish with the namespace if this script is killed before its trap runs.
set -euo pipefail
root=$1
shift

mounted=()
# shellcheck disable=SC2317  # reached through the trap below
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" ||
      echo "sid-chroot: could not unmount ${mounted[i]}" >&2
  done
  mounted=()
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount -t proc proc "$root/proc"
mounted+=("$root/proc")
# /dev without its submounts: the build and the tests need only the device
# nodes, and a private copy keeps anything mounted below it from reaching the
# host's /dev.
mount --bind /dev "$root/dev"
mounted+=("$root/dev")
mount --make-private "$root/dev"

status=0
chroot "$root" "$@" || status=$?
exit "$status"
