#!/usr/bin/env bash
# Makes sure a Debian sid arm64 file tree with CPython 3.14 and 3.15
# (interpreters and headers, and 3.15's _testcapi) is cached on this machine,
# building it when it is missing or was left half-made (make_arm64_tree in
# common.sh says how).
#   .ci/arm64-sid-root.sh      prints the tree's path when it is ready
# QARVO_ARM64_SID_ROOT  where the tree lives (default /var/cache/qarvo/arm64-sid-root)
set -euo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
arm_tree 3.15
make_arm64_tree sid
