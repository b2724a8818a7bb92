#!/usr/bin/env bash
# The search core's GoogleTest suites cross-compiled for s390x, a big-endian
# target, and run under qemu-s390x. Only the scalar variant exists there; its
# masks are kept as little-endian words whatever the host's byte order, so
# every answer must match the little-endian hosts' ones.
set -Eeuo pipefail
source "$(dirname "$0")/core-common.sh"
trap 'echo "core-s390x: 0 passed, 1 failed"' ERR
build=$root/build/core-s390x

packages=(g++-s390x-linux-gnu qemu-user libgtest-dev cmake ninja-build)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi

configure_and_build "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/s390x-linux-gnu.cmake" \
  -DQARVO_WERROR=ON -DQARVO_BUILD_TESTS=ON

tests=(qemu-s390x -L /usr/s390x-linux-gnu "$build/tests/core/qarvo_core_tests")
# The binary must really be big-endian (ELF header byte 5: 2 = MSB first).
ei_data=$(od -An -tu1 -j5 -N1 "$build/tests/core/qarvo_core_tests" | tr -d ' ')
if [ "$ei_data" != 2 ]; then
  echo "core-s390x: the test binary is not big-endian (EI_DATA=$ei_data)"
  echo "core-s390x: 0 passed, 1 failed"
  exit 1
fi
variants=$(variants_of "${tests[@]}")
if [ "$variants" != scalar ]; then
  echo "core-s390x: expected the scalar variant alone, got: $variants"
  echo "core-s390x: 0 passed, 1 failed"
  exit 1
fi
log=$build/ctest.log
status=0
ctest --test-dir "$build" --output-on-failure -j "$jobs" >"$log" 2>&1 || status=$?
cat "$log"
# "100% tests passed out of 55" or "98% tests passed, 1 tests failed out of 55"
total=$(grep -oE 'tests failed out of [0-9]+|tests passed out of [0-9]+' "$log" | tail -n 1 | grep -oE '[0-9]+$' || echo 0)
failed=$(grep -oE '[0-9]+ tests failed' "$log" | grep -oE '^[0-9]+' || echo 0)
if [ "$status" -ne 0 ] || [ "$total" -eq 0 ] || [ "$failed" -ne 0 ]; then
  echo "core-s390x: $((total - failed)) passed, $((failed > 0 ? failed : 1)) failed"
  exit 1
fi
echo "core-s390x: variant scalar on big-endian s390x under qemu-s390x"
echo "core-s390x: $total passed, 0 failed"
