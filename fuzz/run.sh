#!/usr/bin/env bash
# Builds the string-file fuzz target with clang (the fuzz preset) and runs it for the given
# number of seconds, default 60; exits non-zero when it crashed. A crashing input is kept under
# fuzz/crashes/; inputs that found new code go to build/fuzz/fuzz-corpus/.
#
#   fuzz/run.sh [seconds]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/fuzz
seconds=${1:-60}
(cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j 2 >/dev/null)
mkdir -p "$build/fuzz-corpus" "$root/fuzz/crashes"
status=0
"$build/fuzz/fuzz_string_file" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
  -artifact_prefix="$root/fuzz/crashes/" "$build/fuzz-corpus" "$root/fuzz/corpus/fuzz_string_file" \
  >"$build/fuzz.log" 2>&1 || status=$?
# A crash skips the simulated machine's own clean-up: remove its folder here.
machine=$(sed -n 's/^sim machine: \(\/[a-z/]*plainrun-sim-[A-Za-z0-9]*\)$/\1/p' "$build/fuzz.log" | head -n 1)
[ -z "$machine" ] || rm -rf -- "$machine"
echo "fuzz_string_file: $(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz.log" | tail -n 1) executions in $seconds s"
[ "$status" -eq 0 ] || { tail -n 30 "$build/fuzz.log"; echo "fuzz_string_file CRASHED (exit $status), log: $build/fuzz.log"; }
exit "$status"
