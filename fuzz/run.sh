#!/usr/bin/env bash
# Builds the fuzz targets with clang (the fuzz preset) and runs each one in turn for the
# given number of seconds, default 60. Prints, per target, the inputs it executed and
# whether it crashed; exits non-zero when any target crashed.
#
#   fuzz/run.sh [seconds] [target...]
#
# PLAINRUN_FUZZ_BUILD names the build folder (default build/fuzz) and PLAINRUN_FUZZ_JOBS
# the parallel compile jobs (default 2). A crashing input is kept under
# fuzz/crashes/<target>/; inputs that found new code go to <build>/fuzz-corpus/<target>/.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m -- "${PLAINRUN_FUZZ_BUILD:-$root/build/fuzz}")
jobs=${PLAINRUN_FUZZ_JOBS:-2}
seconds=${1:-60}
[ $# -gt 0 ] && shift
all_targets=(fuzz_string_file)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: fuzz/run.sh [seconds] [target...]" >&2
  exit 2
fi
for tool in clang-14 clang++-14 cmake ninja pkg-config; do
  if ! command -v "$tool" >/dev/null; then
    echo "missing $tool: run tools/install-deps.sh and apt-get install clang-14 libclang-rt-14-dev" >&2
    exit 2
  fi
done
if ! compgen -G "$(clang-14 -print-resource-dir)/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null; then
  echo "missing the libFuzzer runtime: apt-get install libclang-rt-14-dev" >&2
  exit 2
fi

started=$SECONDS
(cd "$root" && cmake --preset fuzz -B "$build" >/dev/null)
cmake --build "$build" --target "${targets[@]}" -j "$jobs" >/dev/null

crashed=0
for target in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$target
  crashes=$root/fuzz/crashes/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus" "$crashes" "$(dirname "$log")"
  status=0
  # New inputs go to the first folder; the checked-in seeds are only read.
  "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
    -artifact_prefix="$crashes/" "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?

  # A crash skips the simulated machine's own clean-up: remove its folder here.
  machine=$(sed -n 's/^sim machine: \(\/tmp\/plainrun-sim-[A-Za-z0-9]*\)$/\1/p' "$log" | head -n 1)
  if [ -n "$machine" ]; then rm -rf -- "$machine"; fi

  executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)$/\1/p' "$log" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    printf '%-22s %10s executions  no crash\n' "$target" "${executions:-?}"
  else
    crashed=1
    input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)
    printf '%-22s %10s executions  CRASH (exit %d), input %s\n' "$target" "${executions:-?}" "$status" "${input:-not saved}"
    grep -E '^(broken promise:|SUMMARY:|==[0-9]+==ERROR)|runtime error:|ALARM: working on the last Unit' "$log" | head -n 3 | sed 's/^/    /' || true
    echo "    log: $log"
  fi
done
echo "total wall time: $((SECONDS - started)) s"
exit "$crashed"
