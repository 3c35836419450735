#!/usr/bin/env bash
# bench/run.sh [BUILD_DIR]: the medians of the start-up table in docs/quality.md. hyperfine
# times plainrunctl.exe under Wine beside two floors, an empty GUI program and one that only
# starts and stops COM (as every run does), and beside `wine reg add` of the same flag. The
# flag is reset to 0 before every run, so that /plainrun switches it each time and the run
# without arguments only reads.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# hyperfine -N splits each command shell-style: a doubled backslash is one backslash.
program='wine "C:\\Program Files\\Orvane\\plainrunctl.exe"'
names=("empty GUI exe" "COM floor exe" "reg add (flag 1)" "plainrunctl /plainrun (0 -> 1)"
  "plainrunctl (flag 0, reads only)" "plainrunctl noop")
commands=('wine C:\\bench\\empty.exe' 'wine C:\\bench\\com_floor.exe'
  'wine reg add HKCU\\SOFTWARE\\Orvane\\DERVO /v DisableOutlookConnector /t REG_DWORD /d 1 /f'
  "$program /plainrun" "$program" "$program noop")
args=(-N --style basic --warmup 5 --runs 50 --prepare "bash '$root/bench/reset_flag.sh'"
  --output "$bin/output.log" --export-json "$bin/bench.json")
for i in "${!commands[@]}"; do args+=(-n "${names[$i]}" "${commands[$i]}"); done
hyperfine "${args[@]}" >&2 || die "hyperfine failed; what the commands printed is in $bin/output.log"

# The log shows that every timed and warm-up /plainrun switched the flag, and that no run
# without arguments found it anything but 0.
log=$(find "$prefix/drive_c/users" -path '*DebugLogs/logplainrunctl.csv')
switched=$(grep -c 'setting the disable flag to 1' "$log" || true)
[ "$switched" -eq 55 ] || die "the log shows $switched switches to 1, not 55: a run did not do its work"
! grep -q 'setting the disable flag to 0' "$log" || die "a run without arguments did not start from 0"

python3 - "$bin/bench.json" <<'PY'
import json, sys

results = json.load(open(sys.argv[1]))["results"]
empty, floor = results[0]["median"], results[1]["median"]


def quartile(times, q):
    return sorted(times)[min(len(times) - 1, int(q * len(times)))] * 1e3


print(f"{'command':34} {'median':>7} {'p25-p75':>11} {'x empty':>8} {'x COM':>6}   (ms)")
for r in results:
    t = r["times"]
    print(f"{r['command']:34} {r['median'] * 1e3:7.1f} {quartile(t, 0.25):5.1f}-{quartile(t, 0.75):<5.1f} "
          f"{r['median'] / empty:8.2f} {r['median'] / floor:6.2f}")
PY
