#!/usr/bin/env bash
# bench/steps.sh [BUILD_DIR] [NAME=EXE ...]: what each start-up step of a plainrunctl run
# costs under Wine. probe.exe performs the steps one at a time (a DLL load, the folder
# lookup, the registry, the process snapshot, the log library), and every command is timed
# round-robin by interleave.py, so that load from other work on the machine falls on all
# of them alike. Each extra NAME=EXE (another build of plainrunctl.exe) is installed beside
# the real one as NAME.exe and timed with /plainrun, without arguments and with `noop`.
# Besides wall time it reports CPU time (the run's own plus what the prefix's server,
# services and desktop spent meanwhile), which a busy machine hardly disturbs.
# Settings as for run.sh; the table goes to stdout, the times to $BENCH_OUT/steps.json.
set -euo pipefail
build_arg=${1:-}
[ $# -gt 0 ] && shift
# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

for entry in "$@"; do
  name=${entry%%=*} file=${entry#*=}
  [ -f "$file" ] || die "no $file"
  cp "$file" "$install_dir/$name.exe"
done

probe='wine C:\\bench\\probe.exe'
program='"C:\\Program Files\\Orvane\\plainrunctl.exe"'
commands=(
  'empty=wine C:\\bench\\empty.exe'
  'COM floor=wine C:\\bench\\com_floor.exe'
  "probe, no step=$probe"
  "+ ole32 loaded=$probe ole32"
  "+ COM=$probe com"
  "COM + user32=$probe com user32"
  "COM + oleaut32=$probe com oleaut32"
  "COM + shcore=$probe com shcore"
  "COM + shcore argv=$probe com shcore argv"
  "COM + shell32=$probe com shell32"
  "COM + shell32 argv folder=$probe com shell32 argv folder"
  "COM + regread=$probe com regread"
  "COM + regwrite=$probe com regwrite"
  "COM + snapshot=$probe com snapshot"
  "COM + snapshot of processes=$probe com snapprocs"
  "COM + tracelib=$probe com tracelib"
  "COM + DOM document=$probe com dom"
  "COM + all of /plainrun=$probe com shell32 argv folder regread regwrite snapshot tracelib"
  'reg add=wine reg add HKCU\\SOFTWARE\\Orvane\\DERVO /v DisableOutlookConnector /t REG_DWORD /d 1 /f'
  "plainrunctl /plainrun=wine $program /plainrun"
  "plainrunctl (reads)=wine $program"
  "plainrunctl noop=wine $program noop"
)
for entry in "$@"; do
  name=${entry%%=*}
  exe_win="\"C:\\\\Program Files\\\\Orvane\\\\$name.exe\""
  commands+=("$name /plainrun=wine $exe_win /plainrun" "$name (reads)=wine $exe_win" "$name noop=wine $exe_win noop")
done

export BENCH_PREPARE_LOG=$out/steps-prepare.log
rm -f "$BENCH_PREPARE_LOG"
say "interleaved: ${#commands[@]} commands, $warmup warm-up and $runs timed rounds; the flag is reset to 0 before each run"
python3 "$root/bench/interleave.py" --rounds "$runs" --warmup "$warmup" --reference 'COM floor' --cpu-of-prefix "$prefix" \
  --prepare "bash '$root/bench/reset_flag.sh'" \
  --export-json "$out/steps.json" "${commands[@]}"
