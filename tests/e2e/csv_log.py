"""The strict reading of the program's CSV log that the Wine tests share."""
import csv
import io

HEADER = ['Time (UTC)', 'Level', 'Process', 'Thread', 'Logger', 'Message']


def read(path):
    """The file's rows after the header, each with its row number, that have the six fields
    of a row, and a list of what breaks a whole log: a last row without CRLF, a missing or
    repeated header, a row of another width."""
    with open(path, newline='', encoding='utf-8') as f:
        text = f.read()
    lines = list(csv.reader(io.StringIO(text, newline='')))
    problems = []
    if not text.endswith('\r\n'):
        problems.append('last row not ended with CRLF')
    if lines[:1] != [HEADER]:
        problems.append('no header at the top: %r' % (lines[:1],))
    rows = []
    for n, row in enumerate(lines[1:], start=2):
        if len(row) != 6 or row == HEADER:
            problems.append('row %d: %r' % (n, row[:8]))
        else:
            rows.append((n, row))
    return rows, problems
