#!/usr/bin/env bash
# Makes sure a Debian bookworm arm64 file tree with CPython 3.11 (interpreter
# and headers) is cached on this machine, building it when it is missing
# or was left half-made. Nothing in it ever runs natively: the cross compiler
# reads its headers and qemu-aarch64 -L runs its interpreter.
#   .ci/arm64-root.sh          prints the root's path when it is ready
# QARVO_ARM64_ROOT   where the root lives (default /var/cache/qarvo/arm64-root)
#
# debootstrap --foreign only downloads and unpacks (no emulation needed); the
# packages it downloaded but did not unpack are unpacked with dpkg-deb, and no
# maintainer script ever runs. The root is built beside its final place and
# renamed into it after the stamp is written, so an interrupted build never
# looks complete.
set -euo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"

if root_ready "$arm64_stamp" "${arm64_packages[@]}"; then
  echo "$arm64_root"
  exit 0
fi

mkdir -p "$(dirname "$arm64_root")"
exec 9>"$arm64_lock"
# Waits until no test run uses the root any more.
flock 9
if root_ready "$arm64_stamp" "${arm64_packages[@]}"; then
  echo "$arm64_root"
  exit 0
fi

new="$arm64_root.new"
remove_tree "$new"
remove_tree "$arm64_root"
start=$SECONDS
mirror=$(debian_mirror)
echo "arm64-root: building $arm64_root from $mirror" >&2
include=$(IFS=,; echo "${arm64_packages[*]}")
if ! debootstrap --foreign --arch=arm64 --variant=minbase --include="$include" \
  bookworm "$new" "$mirror" >"$new.log" 2>&1; then
  tail -n 30 "$new.log" >&2
  echo "arm64-root: debootstrap failed (full log: $new.log)" >&2
  exit 1
fi
for deb in "$new"/var/cache/apt/archives/*.deb; do
  dpkg-deb -x "$deb" "$new"
done
rm -rf "$new"/var/cache/apt/archives/*.deb "$new/debootstrap" "$new.log"
echo "packages: ${arm64_packages[*]}" >"$new/${arm64_stamp##*/}"
remove_tree "$arm64_root"
mv -T "$new" "$arm64_root"
echo "arm64-root: built in $((SECONDS - start)) s, $(du -sh "$arm64_root" | cut -f1)" >&2
echo "$arm64_root"
