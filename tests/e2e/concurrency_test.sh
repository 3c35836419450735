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

# log_report START_FLAG STARTED FINISHED: "runs N disabling N enabling N", then any problem.
log_report() {
  local start_flag=$1 started=$2 finished=$3
  # Every row is checked; each process's rows, in file order, must be made of whole runs.
  PYTHONPATH=$e2e_dir python3 - "$(log_file)" "$exe_win" "$started" "$finished" "$start_flag" "$work/summary" <<'PY'
import csv_log, datetime, re, sys

path, exe, started, finished, start_flag, summary = sys.argv[1:7]
started, finished = int(started), int(finished)

def parse(cmd):
    lines = ['ParseCommandLine >>', 'ParseCommandLine Command line arguments: ',
             'ParseCommandLine Argument: ' + exe]
    if cmd:
        lines.append('ParseCommandLine Argument: ' + cmd)
    return lines + ['ParseCommandLine << result: %s <<' % cmd]

def switch(name, announcement, acted):
    middle = [name + ' ' + announcement, 'IsOutlookRunning >>', 'IsOutlookRunning << result: 0'] if acted else []
    return [name + ' >>'] + middle + [name + ' <<']

disable = 'Outlook Connector is enable, setting the disable flag to 1.'
enable = 'Outlook Connector is disable, setting the disable flag to 0.'
# Every sequence of messages one run can write, by kind of run and whether it switched.
shapes = {
    ('/plainrun', True): parse('/plainrun') * 2 + switch('DisableOutlookConnector', disable, True),
    ('/plainrun', False): parse('/plainrun') * 2 + switch('DisableOutlookConnector', disable, False),
    ('none', True): parse('') + switch('EnableOutlookConnector', enable, True),
    ('none', False): parse('') + switch('EnableOutlookConnector', enable, False),
}

rows, problems = csv_log.read(path)

earliest = datetime.datetime.fromtimestamp(started - 2, datetime.timezone.utc)
latest = datetime.datetime.fromtimestamp(finished + 2, datetime.timezone.utc)
stamp = re.compile(r'\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\Z')
by_process = {}
for n, row in rows:
    time, level, process, thread, logger, message = row
    if not stamp.match(time):
        problems.append('row %d: bad time stamp %r' % (n, time))
    else:
        when = datetime.datetime.strptime(time, '%Y-%m-%dT%H:%M:%S.%fZ').replace(tzinfo=datetime.timezone.utc)
        if not earliest <= when <= latest:
            problems.append('row %d: time stamp %s outside the test' % (n, time))
    if level != 'INFO' or logger != 'plainrunctl':
        problems.append('row %d: level %r, logger %r' % (n, level, logger))
    if not process.isdigit() or not thread.isdigit():
        problems.append('row %d: process %r, thread %r' % (n, process, thread))
    by_process.setdefault(process, []).append((thread, message))

# A process id may come back for a later run, so each group is cut into whole runs.
kinds = {}
for process, entries in by_process.items():
    at = 0
    while at < len(entries):
        messages = [m for _, m in entries[at:]]
        fitting = [k for k, shape in shapes.items() if messages[:len(shape)] == shape]
        # Two shapes never share a prefix of the same length, so at most one fits.
        if not fitting:
            problems.append('process %s: rows %s are no run' % (process, messages[:16]))
            break
        shape = shapes[fitting[0]]
        if len({t for t, _ in entries[at:at + len(shape)]}) != 1:
            problems.append('process %s: one run on several threads' % process)
        kinds[fitting[0]] = kinds.get(fitting[0], 0) + 1
        at += len(shape)

count = lambda kind: sum(v for (k, _), v in kinds.items() if k == kind)
print('runs %d disabling %d enabling %d' % (sum(kinds.values()), count('/plainrun'), count('none')))
print('rows %d, %d of %d disabling runs and %d of %d enabling runs switched' % (
    len(rows), kinds.get(('/plainrun', True), 0), count('/plainrun'),
    kinds.get(('none', True), 0), count('none')), file=open(summary, 'w'))
# From 0 no disabling run can see 1 before one of them has set it; likewise from 1.
first = ('/plainrun', True) if start_flag == '0' else ('none', True)
if kinds.get(first, 0) < 1:
    print('no run switched the flag away from its start value %s' % start_flag)
for p in problems[:10]:
    print(p[:400])
PY
}

for round in $(seq "$rounds"); do
  start_flag=$((round % 2))
  set_flag "$start_flag"
  rm -rf "$(dirname "$(log_file)")" "$work"/*
  started=$(date -u +%s)
  pids=()
  for i in $(seq 0 $((runs - 1))); do
    args=()
    [ $((i % 2)) -eq 0 ] && args=(/plainrun)
    (
      rc=0
      wine_program 120 "${args[@]}" >"$work/out.$i" 2>&1 || rc=$?
      echo "$rc" >"$work/rc.$i"
    ) &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid"; done
  finished=$(date -u +%s)

  codes=$(cat "$work"/rc.* 2>/dev/null | sort | uniq -c | awk '{print $2 "x" $1}' | tr '\n' ' ')
  check "round $round: exit codes of $runs runs (124: hung)" "$codes" "0x$runs "
  # What Wine printed for a run that did not end with 0.
  for i in $(seq 0 $((runs - 1))); do
    [ "$(cat "$work/rc.$i" 2>/dev/null)" == 0 ] || { echo "run $i ended with $(cat "$work/rc.$i" 2>/dev/null):"; head -c 2000 "$work/out.$i"; }
  done
  report=$(log_report "$start_flag" "$started" "$finished")
  restarts=$(cat "$work"/out.* | grep -c '^wine_program: start')
  echo "round $round from $start_flag: $((finished - started)) s, $(cat "$work/summary" 2>/dev/null)," \
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
