#!/usr/bin/env bash
# What happens to the log never holds up or breaks a run.
#   concurrent: rounds of 32 runs at once, half of them disabling and half enabling. Every run
#     ends with 0, the shared log (started afresh each round, so its creation is raced too)
#     keeps every row of every run whole and in order, and the flag is left a DWORD of 0 or 1.
#     Without serialised writes torn rows showed up in 5 of 12 rounds, so several rounds run.
#   full: the log folder is a full 64 KiB file system. Every run ends with 0 and leaves only
#     whole rows, and once there is room again the next run's rows are whole too. Exits 77
#     (skipped) where the test may not mount a file system.
# Arguments: concurrent|full plainrunctl.exe tracelib.dll data-dir
mode=$1 exe=$2 dll=$3 data=$4
source "$(dirname "$0")/lib.sh"
install_build "$exe" "$dll" "$data"
log=$(log_file) && folder=$(dirname "$log") && rm -rf "$folder"

# run [/plainrun]: runs the program (with the flag at 0 for /plainrun, so that it switches);
# prints its exit code.
run() { { [ $# == 0 ] || set_flag 0; } && wine_program "$work/out" 60 "$@"; echo $?; }
rows() { csv_log state "$log"; }

if [ "$mode" == concurrent ]; then
  for round in $(seq "${CONCURRENCY_ROUNDS:-6}"); do
    set_flag $((round % 2)) && rm -rf "$folder" "$work"/* && started=$(date +%s)
    for i in $(seq 32); do
      (wine_program "$work/out.$i" 120 $([ $((i % 2)) -eq 0 ] && echo /plainrun); echo $? >"$work/rc.$i") &
    done
    wait
    check "round $round: exit codes of 32 runs (124: hung)" \
      "$(cat "$work"/rc.* | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ')" "0x32 "
    # What Wine printed for a run that did not end with 0.
    grep -L -x 0 "$work"/rc.* | sed 's/rc\.\([0-9]*\)$/out.\1/' | xargs -r head -c 2000
    check "round $round: log of 32 concurrent runs" "$(csv_log runs "$log" "$exe_win" $((round % 2)))" \
      "runs 32 disabling 16 enabling 16"
    echo "round $round from flag $((round % 2)): $(($(date +%s) - started)) s," \
      "$(cat "$work"/out.* | grep -c '^wine_program: start') start(s) made again after Wine failed to set up the process"
    check "round $round: no temporary log files left, flag a DWORD of 0 or 1" \
      "$(ls "$folder") $(flag | grep -c -x '[01]')" "logplainrunctl.csv 1"
  done
else
  [ "$(id -u)" == 0 ] && mkdir "$work/full" && mount -t tmpfs -o size=64k tmpfs "$work/full" ||
    { echo "cannot mount a file system here: skipped"; exit 77; }
  trap 'umount "$work/full"; rm -rf "$work" "$folder"' EXIT
  mkdir -p "$(dirname "$folder")" && ln -s "$work/full" "$folder"
  check "run on an empty file system, its log there" "$(run /plainrun) $(df --output=size -k "$log" | tail -n 1 | tr -d ' ')" "0 64"
  dd if=/dev/zero of="$work/full/filler" bs=4k 2>/dev/null
  for i in 1 2 3 4; do
    check "full disk, run $i: exit code, log" "$(run $([ $((i % 2)) == 1 ] && echo /plainrun)) $(rows | cut -d' ' -f2-)" "0 whole"
  done
  before=$(rows)
  echo "log on the full file system: $(stat -c %s "$log") bytes, $before"
  rm "$work/full/filler"
  check "room again: exit code, log" "$(run /plainrun) $(rows)" "0 $((${before%% *} + 15)) whole"
fi
finish
