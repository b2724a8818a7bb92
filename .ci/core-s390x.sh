#!/usr/bin/env bash
# The search core's GoogleTest suites cross-compiled for s390x, a big-endian
# target, and run under qemu-s390x. Only the scalar variant exists there; its
# masks are kept as little-endian words whatever the host's byte order, so
# every answer must match the little-endian hosts' ones.
set -uo pipefail
# shellcheck source=.ci/common.sh
. "$(dirname "$0")/common.sh"
suite_start "${QARVO_SUITE:-core-s390x}"
build=$root/build/core-s390x

apt_install g++-s390x-linux-gnu qemu-user libgtest-dev cmake ninja-build || exit 1

configure_and_build core-s390x "$build" || exit 1

binary=$build/tests/core/qarvo_core_tests
# The binary must really be big-endian (ELF header byte 5: 2 = MSB first).
ei_data=$(od -An -tu1 -j5 -N1 "$binary" | tr -d ' ')
if [ "$ei_data" = 2 ]; then pass; else fail "the test binary is not big-endian (EI_DATA=$ei_data)"; fi
variants=$(variants_of qemu-s390x -L /usr/s390x-linux-gnu "$binary")
if [ "$variants" = scalar ]; then pass; else fail "expected the scalar variant alone, got: $variants"; fi
run_ctest "$build"
echo "core-s390x: variant scalar on big-endian s390x under qemu-s390x"
