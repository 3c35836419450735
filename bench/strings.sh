#!/usr/bin/env bash
# bench/strings.sh [BUILD_DIR] [N...]: builds the native core (the `native` preset, or the
# given build folder, configured as a native build without tests if new), links
# bench/string_table.cpp and the tests' forked-child runner against it and times the string
# table for string files of N entries (default 10, 1,000 and 100,000) on the simulated Windows.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-}
[ $# -gt 0 ] && shift

if [ -z "$build" ]; then
  (cd "$root" && cmake --preset native >/dev/null)
  build=$root/build/native
elif [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLAINRUN_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target plainrun_core plainrun_platform >/dev/null

# The same compiler and optimisation as the core it links.
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
flags=$(sed -n 's/^CMAKE_CXX_FLAGS_RELWITHDEBINFO:[A-Z]*=//p' "$build/CMakeCache.txt")
program=$build/string_table
# shellcheck disable=SC2086,SC2046  # flag lists, split on purpose
"${cxx:-c++}" -std=c++20 $flags -Wall -Wextra -Werror -I"$root" "$root/bench/string_table.cpp" "$root/tests/support/child_run.cpp" -o "$program" \
  "$build/libplainrun_core.a" "$build/platform/libplainrun_platform.a" $(pkg-config --libs libxml-2.0) -ldl
"$program" "$@"
