#!/usr/bin/env bash
# Times find_n of the working tree against a revision's, side by side in one
# program, case by case (side_by_side.cpp), on x86-64 with AVX-512BW (or,
# with `avx2`, the AVX2 variant's find_n).
#   bench/side_by_side/side_by_side.sh CASE-DIRECTORY [REVISION [avx2]]
# REVISION defaults to HEAD; the cases come from dump_cases.py. Both builds
# start their functions and loops on 64-byte boundaries, as the library does:
# otherwise where the linker puts each moves its time by about 5%.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
cases=$1
revision=${2:-HEAD}
variant=${3:-avx512bw}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/old"
git -C "$repo" archive "$revision" core | tar -x -C "$work/old"
flags=(-O3 -DNDEBUG -std=c++20 -falign-functions=64 -falign-loops=64
  -mavx2 -mbmi -mbmi2 -mpopcnt)
if [ "$variant" = avx512bw ]; then
  flags+=(-mavx512f -mavx512bw -DSIDE_AVX512)
fi
build() { # tree, namespace, entry, object
  g++ "${flags[@]}" -I"$1/core/src" -I"$1/core/include" -DQARVO_ISA_NAMESPACE="$2" \
    -DSIDE_FUNCTION="$3" -c "$here/variant.cpp" -o "$4"
}
build "$work/old" isa_side_old old_find_n "$work/old.o" &
build "$repo" isa_side_new new_find_n "$work/new.o" &
g++ -O2 -std=c++20 -I"$repo/core/include" -c "$repo/core/src/worst_case.cpp" -o "$work/worst_case.o" &
g++ -O2 -std=c++20 -I"$repo/core/include" -c "$here/side_by_side.cpp" -o "$work/main.o" &
wait
g++ "$work/main.o" "$work/old.o" "$work/new.o" "$work/worst_case.o" -o "$work/side_by_side"
"$work/side_by_side" "$cases"
