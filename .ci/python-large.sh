#!/usr/bin/env bash
# The large-buffer tests: a 5 GiB sparse file searched through mmap by every
# function, matches past 4 GiB. They skip themselves where the address space
# or the disk is too small; a skip counts as neither passed nor failed.
#   .ci/python-large.sh [python-executable]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
py=${1:-python3}
log=$(mktemp)
QARVO_LARGE_BUFFERS=1 bash "$root/.ci/python-tests.sh" "$py" -rs -k test_large_buffers 2>&1 |
  tee "$log"
status=${PIPESTATUS[0]}
passed=$(grep -oE '[0-9]+ passed' "$log" | tail -n 1 | grep -oE '^[0-9]+' || echo 0)
failed=$(grep -oE '[0-9]+ (failed|error)' "$log" | tail -n 1 | grep -oE '^[0-9]+' || echo 0)
rm -f "$log"
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  failed=1
fi
echo "python-large: $passed passed, $failed failed"
[ "$status" -eq 0 ]
