#!/usr/bin/env bash
# bench/run.sh [BUILD_DIR]: times plainrunctl.exe under Wine against two floors, an empty
# GUI program and one that only starts and stops COM, and against a `reg add` of the same
# flag. Without BUILD_DIR it builds the `windows` preset; with it, that build folder (a
# new one is configured as a MinSizeRel cross build without tests).
#
# Every run happens in a throw-away Wine prefix whose server, services and desktop are
# kept alive for the whole measurement, as a user's session keeps them, so that no run
# pays for starting them. No Outlook runs, so no run shows a message box. Before every
# timed run of every command the flag is reset to 0 (hyperfine --prepare), so that
# /plainrun really switches each time and the run without arguments only reads.
#
# Settings (environment):
#   BENCH_WINEPREFIX  the throw-away prefix (default out/bench-prefix); removed at the end
#   BENCH_DISPLAY     an X display to start Xvfb on (default none). With a display every
#                     program that uses COM also pays for Wine's X11 start-up (tens of ms),
#                     which has nothing to do with the program and lifts the COM floor above
#                     `reg add`; the desktop itself is kept open either way.
#   BENCH_OUT         where bench.json and the baseline programs go (default out/)
#   BENCH_RUNS, BENCH_WARMUP  hyperfine's --runs and --warmup (default 50 and 5)
#   BENCH_CPU         the one CPU everything runs on (default the last), or `all`
#   BENCH_QUIET_MS    if set, first wait until the empty program starts in less than this
set -euo pipefail

build_arg=${1:-}
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# ---- the measurement -----------------------------------------------------------
# hyperfine -N splits each command shell-style: a doubled backslash is one backslash.
program='"C:\\Program Files\\Orvane\\plainrunctl.exe"'
export BENCH_PREPARE_LOG=$out/bench-prepare.log
rm -f "$BENCH_PREPARE_LOG"
reset_flag="bash '$root/bench/reset_flag.sh'"
names=("empty GUI exe" "COM floor exe" "reg add (flag 1)" "plainrunctl /plainrun (0 -> 1)"
  "plainrunctl (flag 0, reads only)" "plainrunctl noop")
commands=('wine C:\\bench\\empty.exe' 'wine C:\\bench\\com_floor.exe'
  'wine reg add HKCU\\SOFTWARE\\Orvane\\DERVO /v DisableOutlookConnector /t REG_DWORD /d 1 /f'
  "wine $program /plainrun" "wine $program" "wine $program noop")
# What the commands print goes to a file, so that a run that fails can be told apart.
output=$out/bench-output.log
rm -f "$output"
args=(-N --warmup "$warmup" --runs "$runs" --style basic --export-json "$out/bench.json" --output "$output"
  --prepare "$reset_flag")
for i in "${!commands[@]}"; do args+=(-n "${names[$i]}" "${commands[$i]}"); done

say "hyperfine: ${#commands[@]} commands, $warmup warm-up and $runs timed runs each; before each run the flag is reset to 0"
if ! hyperfine "${args[@]}" >&2; then
  grep -v -a 'operation completed successfully' "$output" | tail -n 20 >&2 || true
  die "hyperfine failed; what the commands printed is in $output"
fi

if [ -s "$BENCH_PREPARE_LOG" ]; then
  say "resetting the flag failed $(wc -l <"$BENCH_PREPARE_LOG") time(s) and was retried; see $BENCH_PREPARE_LOG"
fi
# Every /plainrun run (and the installation check) must have switched the flag, and no
# run without arguments may have found anything to switch back: the log says so.
switched=$(grep -c 'setting the disable flag to 1' "$log" || true)
cleared=$(grep -c 'setting the disable flag to 0' "$log" || true)
[ "$switched" -eq $((1 + warmup + runs)) ] ||
  die "the log shows $switched switches to 1, not $((1 + warmup + runs)): a run did not do its work"
[ "$cleared" -eq 0 ] || die "the log shows $cleared switches to 0: a run without arguments did not start from 0"

# ---- the summary ---------------------------------------------------------------
python3 - "$out/bench.json" "$exe" <<'PY'
import json, os, sys

results = json.load(open(sys.argv[1]))["results"]
by_name = {r["command"]: r for r in results}
empty = by_name["empty GUI exe"]["median"]
floor = by_name["COM floor exe"]["median"]


def quartile(times, q):
    ordered = sorted(times)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


print(f"{'command':34} {'median':>7} {'p25':>6} {'p75':>6} {'min':>6} {'x empty':>8} {'x COM':>6}   (ms)")
for r in results:
    t = r["times"]
    print(f"{r['command']:34} {r['median'] * 1e3:7.1f} {quartile(t, 0.25) * 1e3:6.1f} {quartile(t, 0.75) * 1e3:6.1f} "
          f"{min(t) * 1e3:6.1f} {r['median'] / empty:8.2f} {r['median'] / floor:6.2f}")
full = by_name["plainrunctl /plainrun (0 -> 1)"]["median"]
reg = by_name["reg add (flag 1)"]["median"]
print(f"\n/plainrun: {full / floor:.2f}x the COM floor (goal <= 1.15), {full / reg:.2f}x reg add (goal <= 0.80)")
print(f"plainrunctl.exe: {os.path.getsize(sys.argv[2])} bytes; results in {sys.argv[1]}")
print("A wide p25..p75 means other work competed for the cores; bench/steps.sh compares variants "
      "round-robin and by CPU time, which such load hardly moves.")
PY
