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

install_build "$exe" "$dll" "$data"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# log_report START_FLAG: "runs N disabling N enabling N", then any problem. Every row is
# checked; each process's rows, in file order, must be made of whole runs.
log_report() {
  PYTHONPATH=$e2e_dir python3 - "$(log_file)" "$exe_win" "$1" "$work/summary" <<'PY'
import csv_log, sys
path, exe, start_flag, summary = sys.argv[1:5]

def parse(cmd):
    return (['ParseCommandLine >>', 'ParseCommandLine Command line arguments: ', 'ParseCommandLine Argument: ' + exe]
            + ['ParseCommandLine Argument: ' + cmd] * bool(cmd) + ['ParseCommandLine << result: %s <<' % cmd])

# Every sequence of messages one run can write, by its argument and whether it switched.
shapes = {}
for cmd, head, name, state, value in (('/plainrun', parse('/plainrun') * 2, 'DisableOutlookConnector', 'enable', 1),
                                      ('', parse(''), 'EnableOutlookConnector', 'disable', 0)):
    said = '%s Outlook Connector is %s, setting the disable flag to %d.' % (name, state, value)
    for acted in (True, False):
        middle = [said, 'IsOutlookRunning >>', 'IsOutlookRunning << result: 0'] * acted
        shapes[cmd, acted] = head + [name + ' >>'] + middle + [name + ' <<']

rows, problems = csv_log.read(path)
by_process = {}
for n, (time, level, process, thread, logger, message) in rows:
    if level != 'INFO' or logger != 'plainrunctl':
        problems.append('row %d: level %r, logger %r' % (n, level, logger))
    by_process.setdefault(process, []).append((thread, message))

# A process id may come back for a later run, so each group is cut into whole runs.
kinds = {}
for process, entries in by_process.items():
    at = 0
    while at < len(entries):
        messages = [m for _, m in entries[at:]]
        # Two shapes never share a prefix of the same length, so at most one fits.
        fitting = [k for k, shape in shapes.items() if messages[:len(shape)] == shape]
        if not fitting:
            problems.append('process %s: rows %s are no run' % (process, messages[:16]))
            break
        length = len(shapes[fitting[0]])
        if len({t for t, _ in entries[at:at + length]}) != 1:
            problems.append('process %s: one run on several threads' % process)
        kinds[fitting[0]] = kinds.get(fitting[0], 0) + 1
        at += length

count = lambda cmd: kinds.get((cmd, True), 0) + kinds.get((cmd, False), 0)
print('runs %d disabling %d enabling %d' % (sum(kinds.values()), count('/plainrun'), count('')))
print('rows %d, %d of %d disabling runs and %d of %d enabling runs switched' % (
    len(rows), kinds.get(('/plainrun', True), 0), count('/plainrun'), kinds.get(('', True), 0), count('')),
    file=open(summary, 'w'))
# From 0 no disabling run can see 1 before one of them has set it; likewise from 1.
if kinds.get(('/plainrun' if start_flag == '0' else '', True), 0) < 1:
    print('no run switched the flag away from its start value %s' % start_flag)
for p in problems[:10]:
    print(p[:400])
PY
}

for round in $(seq "$rounds"); do
  start_flag=$((round % 2))
  set_flag "$start_flag"
  rm -rf "$(dirname "$(log_file)")" "$work"/*
  started=$(date +%s)
  for i in $(seq 0 $((runs - 1))); do
    (wine_program 120 $([ $((i % 2)) -eq 0 ] && echo /plainrun) >"$work/out.$i" 2>&1; echo $? >"$work/rc.$i") &
  done
  wait

  codes=$(cat "$work"/rc.* 2>/dev/null | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ')
  check "round $round: exit codes of $runs runs (124: hung)" "$codes" "0x$runs "
  # What Wine printed for a run that did not end with 0.
  for i in $(seq 0 $((runs - 1))); do
    [ "$(cat "$work/rc.$i" 2>/dev/null)" == 0 ] || { echo "run $i ended with $(cat "$work/rc.$i" 2>/dev/null):"; head -c 2000 "$work/out.$i"; }
  done
  report=$(log_report "$start_flag")
  restarts=$(cat "$work"/out.* | grep -c '^wine_program: start')
  echo "round $round from $start_flag: $(($(date +%s) - started)) s, $(cat "$work/summary" 2>/dev/null)," \
    "$restarts start(s) made again after Wine failed to set up the process"
  check "round $round: log of $runs concurrent runs" "$report" "runs $runs disabling $((runs / 2)) enabling $((runs / 2))"
  check "round $round: no temporary log files left" \
    "$(ls "$(dirname "$(log_file)")" | grep -v -x 'logplainrunctl.csv')" ""
  type=$(wine reg query 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector 2>/dev/null | tr -d '\r' |
    awk '/DisableOutlookConnector/ {print $2}')
  check "round $round: flag type" "$type" REG_DWORD
  check "round $round: flag is 0 or 1" "$(flag | grep -c -x '[01]')" 1
done

finish
