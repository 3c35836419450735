#!/usr/bin/env bash
# Two clean builds of the same tree, in folders of different names, give byte-identical
# plainrunctl.exe and tracelib.dll.
set -eu
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=1700000000
for tree in first second-tree; do
  cmake -S "$source_dir" -B "$work/$tree" -G Ninja -DPLAINRUN_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$work/$tree" --target plainrunctl tracelib >/dev/null
done
failed=0
for file in plainrunctl.exe tracelib/tracelib.dll; do
  a=$(sha256sum <"$work/first/$file" | cut -d' ' -f1) b=$(sha256sum <"$work/second-tree/$file" | cut -d' ' -f1)
  echo "$file: $a $b"
  [ "$a" == "$b" ] || failed=$((failed + 1))
done
echo "$((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
