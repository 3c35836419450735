# What the program leaves behind, read strictly for the Wine tests:
#   state LOG: the number of whole rows, then "whole" or the first problems that break the log
#   runs LOG EXE START_FLAG: "runs N disabling N enabling N" for a log of concurrent runs, then
#     each problem (rows that no run could have written), and a summary on standard error
import csv, io, re, sys

HEADER = ['Time (UTC)', 'Level', 'Process', 'Thread', 'Logger', 'Message']


# The rows of six fields after the header, and what breaks a whole log: a last row without
# CRLF, a missing or repeated header, a row of another width.
def read(path):
    text = open(path, newline='', encoding='utf-8').read()
    lines = list(csv.reader(io.StringIO(text, newline='')))
    rows = [row for row in lines[1:] if len(row) == 6 and row != HEADER]
    problems = ['last row not ended with CRLF'] * (not text.endswith('\r\n')) + ['no header at the top'] * (lines[:1] != [HEADER])
    return rows, problems + ['row %r' % row[:8] for row in lines[1:] if len(row) != 6 or row == HEADER]


# Cuts each thread's messages into runs, each one of the four sequences a run can write (by
# its argument, and whether it switched the flag), and counts them by kind.
def runs(rows, problems, exe, start_flag):
    shapes, threads, kinds = {}, {}, []
    for cmd, name, state in (('/plainrun', 'Disable', 'enable'), ('', 'Enable', 'disable')):
        parse = ['>>', 'Command line arguments: ', 'Argument: ' + exe] + ['Argument: ' + cmd] * bool(cmd) + ['<< result: %s <<' % cmd]
        said = ['%sOutlookConnector Outlook Connector is %s, setting the disable flag to %d.' % (name, state, bool(cmd)),
                'IsOutlookRunning >>', 'IsOutlookRunning << result: 0']
        for acted in (True, False):
            run = ['ParseCommandLine ' + m for m in parse] * (1 + bool(cmd)) + [name + 'OutlookConnector >>'] + said * acted
            shapes[''.join(m + '\n' for m in run + [name + 'OutlookConnector <<'])] = (cmd, acted)
    for _, level, process, thread, logger, message in rows:
        problems += ['level %r, logger %r' % (level, logger)] * ((level, logger) != ('INFO', 'plainrunctl'))
        threads[process, thread] = threads.get((process, thread), '') + message + '\n'
    # No sequence begins another, so a thread's messages split into runs in one way only.
    any_run = '|'.join(map(re.escape, shapes))
    for key, text in threads.items():
        problems += ['thread %s: rows of no run: %r' % (key, text[:1500])] * (not re.fullmatch('(?:%s)+' % any_run, text))
        kinds += [shapes[m.group()] for m in re.finditer(any_run, text)]
    n = lambda cmd, acted=(True, False): sum(kinds.count((cmd, a)) for a in acted)
    print('runs %d disabling %d enabling %d' % (len(kinds), n('/plainrun'), n('')))
    print('%d rows; switched: %d disabling, %d enabling runs' % (len(rows), n('/plainrun', [True]), n('', [True])), file=sys.stderr)
    # From 0 no disabling run can see 1 before one of them has set it; likewise from 1.
    problems += ['no run switched the flag away from %s' % start_flag] * (n('/plainrun' if start_flag == '0' else '', [True]) < 1)
    print('\n'.join(p[:400] for p in problems[:10]), end='')


if __name__ == '__main__':
    rows, problems = read(sys.argv[2])
    if sys.argv[1] == 'state':
        print(len(rows), problems[:3] or 'whole')
    else:
        runs(rows, problems, *sys.argv[3:5])
