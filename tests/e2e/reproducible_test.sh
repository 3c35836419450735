#!/usr/bin/env bash
# reproducible_test.sh SOURCE-DIR WORK-DIR: two clean builds of the same tree, in folders of
# different names and at different times, give a byte-identical plainrunctl.exe, tracelib.dll
# and (unsigned) release: the package, the templates and SHA256SUMS.
set -eu
rm -rf "$2" && trap 'rm -rf "$2"' EXIT
export SOURCE_DATE_EPOCH=1700000000
unset PLAINRUN_SIGN_PFX
for tree in first second-tree; do
  cmake -S "$1" -B "$2/$tree" -G Ninja -DPLAINRUN_TESTS=OFF -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$2/$tree" --target release >/dev/null
  (cd "$2/$tree" && sha256sum plainrunctl.exe tracelib/tracelib.dll && cd release && find . -type f | LC_ALL=C sort |
    xargs sha256sum) | tee "$2/$tree.sums"
  sleep 1
done
diff "$2/first.sums" "$2/second-tree.sums" && echo "byte-identical"
