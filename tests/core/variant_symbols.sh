#!/usr/bin/env bash
# Every function that an object of the search core defines must be defined by
# no other object of it. Variant TUs are built with wider instruction sets; a
# function they shared with another TU (a COMDAT the linker may take from
# either) could put AVX code on a path that runs on CPUs without AVX. Shared
# data (such as the type descriptors UBSan emits) holds no instructions and is
# not counted.
#
#   variant_symbols.sh NM ARCHIVE
set -euo pipefail
nm_tool=$1
archive=$2

# "object<TAB>symbol" for each external function (nm types T: global, W: weak,
# i: indirect); nm -A prints "archive:object:address type symbol" (llvm-nm
# with a space before the address).
defined=$("$nm_tool" --defined-only --extern-only -A "$archive" |
  awk '$(NF - 1) ~ /^[TWi]$/ { n = split($1, parts, ":"); print parts[n - 1] "\t" $NF }')
if [ -z "$defined" ]; then
  echo "no symbols found in $archive"
  exit 1
fi
shared=$(cut -f2 <<<"$defined" | sort | uniq -d)
if [ -n "$shared" ]; then
  echo "functions defined by more than one object of $archive:"
  while read -r symbol; do
    owners=$(awk -F'\t' -v s="$symbol" '$2 == s { print $1 }' <<<"$defined" | tr '\n' ' ')
    echo "  $(c++filt "$symbol"): $owners"
  done <<<"$shared"
  exit 1
fi
echo "$(wc -l <<<"$defined") functions in $(cut -f1 <<<"$defined" | sort -u | wc -l) objects, no function defined twice"
