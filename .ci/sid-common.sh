# Shared by the sid-*.sh scripts: where the root lives, what it holds, how
# its users and its builder take turns, and how to delete a tree without
# following mounts into the host.
sid_root=${QARVO_SID_ROOT:-/var/cache/qarvo/sid-root}
sid_stamp="$sid_root/.qarvo-sid-stamp"
# Users of the root hold this lock shared; sid-root.sh rebuilds only while
# holding it exclusively, so a root is never deleted under a running test.
sid_lock="$sid_root.lock"

# python3-pytest, -hypothesis, -numpy and -mypy are built for sid's default
# python3, which is 3.14, so both 3.14 interpreters import them. The debug
# interpreter loads the release builds of compiled modules too (Debian ships
# no separate debug builds of them), so numpy runs there as well.
# libpython3.14-testsuite brings _testcapi; libgtest-dev is for the C++
# suites that configure beside the test-only extension.
sid_packages=(
  python3.14-dev python3.14-dbg python3.14-venv libpython3.14-testsuite
  python3.15-dev python3.15-dbg python3.15-venv libpython3.15-testsuite
  python3-pip python3-pytest python3-hypothesis python3-numpy python3-mypy
  python3-scikit-build-core
  g++ cmake ninja-build libgtest-dev
)

# True when the root is complete and holds every package of the list above.
# A root made from a longer list is good enough, so that checkouts whose lists
# differ by a package do not rebuild it in turn.
sid_root_ready() {
  [ -f "$sid_stamp" ] || return 1
  local have package
  have=" $(sed -n 's/^packages: //p' "$sid_stamp") "
  for package in "${sid_packages[@]}"; do
    [[ "$have" == *" $package "* ]] || return 1
  done
}

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
