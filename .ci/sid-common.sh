# Shared by the sid-*.sh scripts: where the root lives and how to delete a
# tree without following mounts into the host.
sid_root=${QARVO_SID_ROOT:-/var/cache/qarvo/sid-root}

# Removes a directory tree, refusing when anything is still mounted below it:
# a bind mount of /dev or of the repository would otherwise be emptied too.
sid_remove_tree() {
  local dir=$1
  [ -e "$dir" ] || return 0
  local real
  real=$(realpath "$dir")
  if awk -v d="$real" '$5 == d || index($5, d "/") == 1 { found = 1 } END { exit !found }' \
      /proc/self/mountinfo; then
    echo "sid: refusing to delete $dir: something is mounted below it" >&2
    return 1
  fi
  rm -rf --one-file-system "$dir"
}
