#!/usr/bin/env bash
# Rounds of 32 runs of the program at once, half of them disabling and half enabling:
# every run ends with 0, the shared log (started afresh each round, so its creation
# is raced too) keeps every row of every run whole and in order, and the flag is left
# a DWORD of 0 or 1. Without serialised writes torn rows showed up in 5 of 12 rounds,
# so several rounds are run.
# Arguments: plainrunctl.exe tracelib.dll data-dir
exe=$1 dll=$2 data=$3
source "$(dirname "$0")/lib.sh"
runs=32 rounds=${CONCURRENCY_ROUNDS:-6}
install_build "$exe" "$dll" "$data" && logs=$(dirname "$(log_file)")

for round in $(seq "$rounds"); do
  set_flag $((round % 2)) && rm -rf "$logs" "$work"/* && started=$(date +%s)
  for i in $(seq "$runs"); do
    (wine_program "$work/out.$i" 120 $([ $((i % 2)) -eq 0 ] && echo /plainrun); echo $? >"$work/rc.$i") &
  done
  wait
  check "round $round: exit codes of $runs runs (124: hung)" \
    "$(cat "$work"/rc.* | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ')" "0x$runs "
  # What Wine printed for a run that did not end with 0.
  grep -L -x 0 "$work"/rc.* | sed 's/rc\.\([0-9]*\)$/out.\1/' | xargs -r head -c 2000
  check "round $round: log of $runs concurrent runs" "$(csv_log runs "$(log_file)" "$exe_win" $((round % 2)))" \
    "runs $runs disabling $((runs / 2)) enabling $((runs / 2))"
  echo "round $round from flag $((round % 2)): $(($(date +%s) - started)) s," \
    "$(cat "$work"/out.* | grep -c '^wine_program: start') start(s) made again after Wine failed to set up the process"
  check "round $round: no temporary log files left, flag a DWORD of 0 or 1" \
    "$(ls "$logs") $(flag | grep -c -x '[01]')" "logplainrunctl.csv 1"
done
finish
