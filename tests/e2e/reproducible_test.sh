#!/usr/bin/env bash
# reproducible_test.sh SOURCE-DIR WORK-DIR: two clean builds of the same tree, in folders of
# different names, give byte-identical plainrunctl.exe and tracelib.dll.
set -eu
rm -rf "$2" && trap 'rm -rf "$2"' EXIT
export SOURCE_DATE_EPOCH=1700000000
for tree in first second-tree; do
  cmake -S "$1" -B "$2/$tree" -G Ninja -DPLAINRUN_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$2/$tree" --target plainrunctl tracelib >/dev/null
  (cd "$2/$tree" && sha256sum plainrunctl.exe tracelib/tracelib.dll | tee ../$tree.sums)
done
diff "$2/first.sums" "$2/second-tree.sums" && echo "byte-identical"
