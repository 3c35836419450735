"""Plays every row of the whole-run table that needs no injected fault against the real
plainrunctl.exe under Wine, in the prefix of $WINEPREFIX with the display of $DISPLAY,
and checks what the row says must follow. Arguments: table plainrunctl.exe tracelib.dll
data-dir OUTLOOK.EXE mapistub.dll three_exports.dll launch.exe"""
import codecs, difflib, os, re, shutil, subprocess, sys, time

import csv_log

table, exe, dll, data, outlook, stub, three, launch = sys.argv[1:9]
drive = os.path.join(os.environ['WINEPREFIX'], 'drive_c')
profile = 'C:\\users\\' + next(u for u in sorted(os.listdir(drive + '/users')) if u.lower() != 'public')
install, system = 'C:\\Program Files\\Orvane\\', drive + '/windows/system32/'
ROOTS = {'HKCU': 'HKEY_CURRENT_USER', 'HKLM': 'HKEY_LOCAL_MACHINE'}
KEYS = [r'HKCU\SOFTWARE\Orvane', r'HKCU\Software\Policies\Orvane', r'HKLM\SOFTWARE\Orvane',
        r'HKLM\Software\Policies\Orvane', r'HKLM\Software\Clients\Mail\Microsoft Outlook']
ICONS = {'7f01': '0x10', '7f02': '0x20', '7f03': '0x30', '7f04': '0x40'}
KINDS = ['flag', 'box', 'log', 'nolog', 'mapi', 'debug', 'folder', 'nofolder']
QUIET = {'stdout': subprocess.DEVNULL, 'stderr': subprocess.DEVNULL}  # a Wine service keeps a pipe open for good


def text(value):
    value = value[1:-1] if len(value) >= 2 and value[0] == value[-1] == '"' else value
    return re.sub(r'\\u\{([0-9a-fA-F]+)\}', lambda m: chr(int(m[1], 16)), value).replace('{profile}', profile)


def host(path):
    """The host path of a Windows path on drive C:, found without regard to case."""
    at = drive
    for part in [p for p in text(path)[3:].split('\\') if p]:
        names = {n.lower(): n for n in os.listdir(at)} if os.path.isdir(at) else {}
        at = os.path.join(at, names.get(part.lower(), part))
    return at


def encode(typed):
    kind, _, rest = typed.partition(' ')
    if kind == 'dword':
        return 4, int(rest).to_bytes(4, 'little')
    if kind == 'hex':
        type_, _, hexes = rest.partition(' ')
        return int(type_), bytes(int(h, 16) for h in hexes.split(',') if h)
    return {'sz': 1, 'expand_sz': 2, 'multi_sz': 7}[kind], (text(rest) + '\0' * (1 + (kind == 'multi_sz'))).encode('utf-16-le')


def show(value):
    return '%d:%s' % (value[0], value[1].hex()) if value else 'absent'


def rows():
    found = []
    for line in open(table, encoding='utf-8').read().split('\n'):
        if line.startswith('== '):
            found.append({'name': line[3:], 'setup': [], 'expect': []})
        elif line == '-- expect':
            found[-1]['part'] = 'expect'
        elif found and line and not line.startswith('#'):
            key, _, value = line.partition(': ')
            found[-1][found[-1].get('part', 'setup')].append((key, value))
    return found


def registry(row):
    """The row's registry as one import: the product's keys removed, then its values set."""
    lines = ['Windows Registry Editor Version 5.00', ''] + ['[-%s\\%s]' % (ROOTS[k[:4]], k[5:]) for k in KEYS]
    values = [] if ('unset', r'HKLM\SOFTWARE\Orvane\DERVO\Path') in row['setup'] else [
        (r'HKLM\SOFTWARE\Orvane\DERVO\Path', 'sz "%s"' % install)]
    for path, typed in values + [tuple(v.split(' = ', 1)) for k, v in row['setup'] if k == 'reg']:
        key, _, name = path.rpartition('\\')
        type_, raw = encode(typed)
        lines += ['[%s\\%s]' % (ROOTS[key[:4]], key[5:]), '"%s"=hex(%x):%s' % (name, type_, ','.join('%02x' % b for b in raw))]
    open(drive + '/row.reg', 'wb').write(codecs.BOM_UTF16_LE + '\r\n'.join(lines + ['']).encode('utf-16-le'))
    subprocess.run(['wine', 'regedit', '/S', 'C:\\row.reg'], check=True, **QUIET)


def flag():
    """The flag as (type, bytes), read back through an export of the product key."""
    out = drive + '/flag.reg'
    os.path.exists(out) and os.remove(out)
    subprocess.run(['wine', 'regedit', '/E', 'C:\\flag.reg', r'HKEY_CURRENT_USER\SOFTWARE\Orvane\DERVO'], **QUIET)
    m = re.search(r'^"DisableOutlookConnector"=(.*(?:\\\r?\n.*)*)', open(out, 'rb').read().decode('utf-16')
                  if os.path.exists(out) else '', re.M)
    value = re.sub(r'\\\r?\n\s*', '', m[1]).strip() if m else ''
    if value.startswith('dword:'):
        return 4, int(value[6:], 16).to_bytes(4, 'little')
    if value.startswith('"'):
        return 1, (value[1:-1].replace('\\\\', '\\') + '\0').encode('utf-16-le')
    m = re.match(r'hex(?:\((\w+)\))?:(.*)', value)
    return (int(m[1] or '3', 16), bytes(int(h, 16) for h in m[2].split(',') if h)) if m else None


standins = {}


def processes(names):
    """Exactly the stand-ins that the row names are running."""
    for name in [n for n in standins if n not in names or standins[n].poll() is not None]:
        standins.pop(name).kill()
    for name in [n for n in names if n not in standins]:
        folder = '%s/standin/%s' % (drive, name.encode().hex())
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy(outlook, folder + '/' + name)
        standins[name] = subprocess.Popen(['wine', 'C:\\standin\\%s\\%s' % (name.encode().hex(), name)], **QUIET)
        for _ in range(300):
            if os.path.exists(folder + '/running'):
                break
            time.sleep(0.1)


def play(row):
    """Runs the program once as the row sets it up; returns its exit code, boxes and trace."""
    setup = dict(row['setup'])
    registry(row)
    folder = host(install)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder + '/Data')
    library = {'none': None, 'three_exports': three}.get(setup.get('library'), dll)
    library and shutil.copy(library, folder + '/tracelib.dll')
    shutil.copy(exe, folder)
    for name in [] if 'nostrings' in setup else [n for n in os.listdir(data) if n.endswith('.xml')]:
        shutil.copy(os.path.join(data, name), folder + '/Data')
    for key, value in row['setup']:
        if key == 'file':
            path, _, content = value.partition(' = ')
            os.makedirs(os.path.dirname(host(path)), exist_ok=True)
            open(host(path), 'w', encoding='utf-8').write(content)
        if key == 'dir':
            os.makedirs(host(value), exist_ok=True)
    for name in ('mapistub.dll', 'mapi32.dll', 'mapistub-calls.txt'):
        for place in (system, drive + '/'):
            os.path.exists(place + name) and os.remove(place + name)
    kind = setup.get('stub')
    kind and shutil.copy(three if kind == 'noexport' else stub, system + ('mapi32.dll' if kind == 'mapi32' else 'mapistub.dll'))
    open(drive + '/mapistub-answers.txt', 'w').write(''.join(v + '\n' for k, v in row['setup'] if k == 'answer'))
    processes([text(v) for k, v in row['setup'] if k == 'process'])
    open(drive + '/launch.txt', 'w', encoding='utf-8').write(
        '"%splainrunctl.exe"%s' % (install, ' ' + text(setup['args']) if 'args' in setup else ''))
    env = dict(os.environ, WINEDEBUG='-all,+msgbox,trace+cursor,warn+seh',
               WINEDLLOVERRIDES='mapistub=%s;mapi32=%s' % ('dn'[kind in ('mapistub', 'noexport')], 'dn'[kind == 'mapi32']))
    for attempt in range(3):
        trace = open(drive + '/trace.txt', 'w+b')
        run, boxes = subprocess.Popen(['wine', 'C:\\launch.exe'], env=env, stderr=trace, stdout=subprocess.DEVNULL), []
        while run.poll() is None:
            time.sleep(0.1)
            shown = open(drive + '/trace.txt', encoding='utf-8', errors='replace').read()
            if shown.count('MSGBOX_OnInit') > len(boxes):
                boxes.append(close_box(shown))
        shown = open(drive + '/trace.txt', encoding='utf-8', errors='replace').read()
        # Each box's icon is loaded after its set-up line, so it is read once the run is over.
        icons = [re.findall(r'LoadIconW 0000000000000000, #(7f0\d)', part)[:1] + [''] for part in shown.split('MSGBOX_OnInit')[1:]]
        boxes = ['%s | %s' % (box, ICONS.get(icon[0], '0x0')) for box, icon in zip(boxes, icons)]
        # This Wine now and then fails to set up a process before any of its code runs.
        if run.returncode != 1 or 'failed to map the shared user data' not in shown:
            return run.returncode, boxes, shown


def close_box(shown):
    """Reads the newest box (caption and text) and answers it with Return."""
    message = re.sub(r'\\([0-9a-f]{4})', lambda m: chr(int(m[1], 16)), re.findall(r'MSGBOX_OnInit L"(.*)"', shown)[-1])
    message = message.replace('\\"', '"').replace('\\\\', '\\')
    out = lambda *command: subprocess.run(command, capture_output=True, text=True).stdout
    for _ in range(300):
        for window in out('xdotool', 'search', '--class', 'plainrunctl.exe').split():
            name = out('xdotool', 'getwindowname', window).rstrip('\n')
            if 'IsViewable' in out('xwininfo', '-id', window) and name != 'Default IME':
                out('xdotool', 'key', '--window', window, 'Return')
                out('xdotool', 'keyup', 'Return')
                return '%s | %s' % (name, message)
        time.sleep(0.1)
    return 'no window for ' + message


def observe(row, boxes, shown):
    log = host(profile + r'\AppData\Local\Orvane\Keelstore\DebugLogs\logplainrunctl.csv')
    calls = drive + '/mapistub-calls.txt'
    made = [text(v) for k, v in row['expect'] if k in ('folder', 'nofolder')]
    got = {'flag': [show(flag())], 'box': boxes, 'nolog': [] if os.path.exists(log) else [''],
           'mapi': open(calls).read().splitlines() if os.path.exists(calls) else [],
           'debug': [d.replace('\\\\', '\\') for d in re.findall(r'OutputDebugStringA "(.*)"', shown)],
           'folder': [p for p in made if os.path.isdir(host(p))], 'nofolder': [p for p in made if not os.path.isdir(host(p))]}
    rows, problems = csv_log.read(log) if not got['nolog'] else ([], [])
    got['log'] = ['%s %s' % (r[1][0], r[5]) for r in rows] + problems  # a log that is not whole shows why
    return got


def play_all():
    """Plays the rows; returns how many were played and how many failed."""
    shutil.rmtree(host(profile + r'\AppData\Local\Orvane'), ignore_errors=True)
    walk = lambda: {os.path.join(d, n) for d, dirs, files in os.walk(drive)
                    if not os.path.relpath(d, drive).startswith(('windows', 'standin')) for n in dirs + files if n != 'standin'}
    before, failed, played = walk(), 0, 0
    for row in [r for r in rows() if not any(k in ('fault', 'deny', 'native') for k, _ in r['setup'])]:
        for path in sorted(walk() - before, reverse=True):  # every row starts from the same disk
            shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else os.path.exists(path) and os.remove(path)
        code, boxes, shown = play(row)
        got, played = observe(row, boxes, shown), played + 1
        want = {k: [text(v) for key, v in row['expect'] if key == k] for k in KINDS}
        want['flag'] = [show(encode(v)) if v != 'absent' else v for v in want['flag']]
        problems = ['exit code %s' % code] * (code != 0) + ['\n    '.join(difflib.unified_diff(
            want[k], got[k], k + ' wanted', 'got', lineterm='', n=1)) for k in KINDS if got[k] != want[k]]
        if problems:
            failed += 1
            print('FAIL %s\n  %s' % (row['name'], '\n  '.join(problems)))
    return played, failed


shutil.copy(launch, drive + '/launch.exe')
# The prefix's own MAPI stubs make way for the rows' and come back whatever happens.
for name in ('mapistub.dll', 'mapi32.dll'):
    os.path.exists(system + name) and shutil.move(system + name, system + name + '.saved')
try:
    played, failed = play_all()
finally:
    processes([])
    for name in ('mapistub.dll', 'mapi32.dll'):
        os.path.exists(system + name) and os.remove(system + name)
        os.path.exists(system + name + '.saved') and shutil.move(system + name + '.saved', system + name)
print('%d rows played under Wine, %d failed' % (played, failed))
sys.exit(1 if failed else 0)
