#!/usr/bin/env bash
# Line and branch coverage of the product code (app/ paths/ strings/ xml/ logging/ tracelib/)
# by the native suites, measured always the same way so that figures compare:
#
#   cmake --preset coverage && cmake --build --preset coverage -j2
#   (every *.gcda under build/coverage removed)
#   ctest --preset coverage -E memcheck
#   gcovr -r . build/coverage --exclude-directories 'build/coverage/CMakeFiles/[0-9]' \
#     --filter app/ --filter paths/ --filter strings/ --filter xml/ --filter logging/ --filter tracelib/ \
#     --exclude-throw-branches --exclude-unreachable-branches [--branches]
#
# The valgrind runs are left out: they repeat the same code, slowly. Tests, fuzz targets, the
# simulated Windows and GoogleTest are not product code and fall outside the filters. Branches
# that only an exception takes are not counted. A forked run writes its counts when it exits;
# one ended by a signal (the out-of-memory sweep's SIGABRT runs) loses its counts.
#
#   tools/coverage.sh           build, run the suites from zeroed counters, report
#   tools/coverage.sh --report  report on the counters already in build/coverage
set -eu
cd "$(dirname "$0")/.."
build=build/coverage
status=0
if [ "${1:-}" != --report ]; then
  cmake --preset coverage >/dev/null
  cmake --build --preset coverage -j2
  find "$build" -name '*.gcda' -delete
  # A failed or timed-out test still leaves the counts of what ran; report them, then fail.
  ctest --preset coverage -E memcheck || status=$?
fi
report=(gcovr -r . "$build" --exclude-directories "$build/CMakeFiles/[0-9]"
  --filter app/ --filter paths/ --filter strings/ --filter xml/ --filter logging/ --filter tracelib/
  --exclude-throw-branches --exclude-unreachable-branches)
echo "== Lines, per file"
"${report[@]}"
echo "== Branches, per file"
"${report[@]}" --branches --print-summary
[ "$status" -eq 0 ] || echo "coverage.sh: the suites did not all pass (ctest exit $status); the figures are incomplete" >&2
exit "$status"
