#!/usr/bin/env bash
# Makes sure a Debian trixie arm64 file tree with CPython 3.13 (interpreter
# and headers) is cached on this machine, building it when it is missing
# or was left half-made (make_arm64_tree in common.sh says how).
#   .ci/arm64-trixie-root.sh   prints the tree's path when it is ready
# QARVO_ARM64_TRIXIE_ROOT  where the tree lives
#                          (default /var/cache/qarvo/arm64-trixie-root)
set -euo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
arm_tree 3.13
make_arm64_tree trixie
