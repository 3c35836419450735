#!/usr/bin/env bash
# bench/steps.sh [BUILD_DIR]: what each start-up step of a plainrunctl run costs under Wine,
# for the per-step table in docs/quality.md. probe.exe performs the steps a run performs:
# first each whole process is timed against the COM floor, round-robin (interleave.py); then
# `probe.exe -t` times each step inside the process.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

rounds=40
# The read step reads the flag, so the flag is there, as after a first run.
wine reg add 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector /t REG_DWORD /d 0 /f >/dev/null 2>&1 ||
  die "cannot set the flag"
probe='wine C:\\bench\\probe.exe com'
# The folder needs shell32: its own cost is its row less the shell32 row.
python3 "$root/bench/interleave.py" "$rounds" 'COM floor=wine C:\\bench\\com_floor.exe' \
  "process snapshot=$probe snapshot" "shell32=$probe shell32" "shell32 + folder twice=$probe shell32 folder folder" \
  "logging library=$probe tracelib" "registry read + write=$probe regread regwrite"

rm -f "$bin/probe-t.txt"
for _ in $(seq "$rounds"); do
  wine 'C:\bench\probe.exe' -t com shell32 folder folder regread regwrite snapshot tracelib >>"$bin/probe-t.txt" 2>/dev/null ||
    die "a step of probe.exe -t failed"
done
python3 - "$bin/probe-t.txt" "$rounds" <<'PY'
import statistics, sys

steps = {}
for line in open(sys.argv[1]):
    step, micros = line.split()
    steps.setdefault(step, []).append(int(micros))
print(f"\ninside the process (probe.exe -t; median of {sys.argv[2]} runs, ms; tl-6lines is 6 log lines):")
for step, micros in steps.items():
    print(f"{step:10} {statistics.median(micros) / 1e3:7.3f}")
PY
