#!/usr/bin/env bash
# The large-buffer tests: a 5 GiB sparse file searched through mmap by every
# function, matches past 4 GiB. They skip themselves where the address space
# or the disk is too small; a skip counts as neither passed nor failed.
#   .ci/python-large.sh PYTHON [MINOR]
set -uo pipefail
QARVO_SUITE=python-large QARVO_LARGE_BUFFERS=1 \
  exec bash "$(dirname "$0")/python-tests.sh" "$@" -- -rs -k test_large_buffers
