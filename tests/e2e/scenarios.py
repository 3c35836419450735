"""Plays every row of the whole-run table that needs no injected fault against the real
plainrunctl.exe under Wine, in the prefix of $WINEPREFIX with the display of $DISPLAY,
and checks what the row says must follow. Arguments: table plainrunctl.exe tracelib.dll
data-dir OUTLOOK.EXE mapistub.dll three_exports.dll launch.exe"""
import codecs, csv, difflib, io, os, re, shutil, subprocess, sys, time

table, exe, dll, data, outlook, stub, three, launch = sys.argv[1:9]
drive = os.path.join(os.environ['WINEPREFIX'], 'drive_c')
user = next(u for u in sorted(os.listdir(drive + '/users')) if u.lower() != 'public')
profile = 'C:\\users\\' + user
install = 'C:\\Program Files\\Orvane\\'
system = drive + '/windows/system32/'
ROOTS = {'HKCU': 'HKEY_CURRENT_USER', 'HKLM': 'HKEY_LOCAL_MACHINE'}
KEYS = [r'HKCU\SOFTWARE\Orvane', r'HKCU\Software\Policies\Orvane', r'HKLM\SOFTWARE\Orvane',
        r'HKLM\Software\Policies\Orvane', r'HKLM\Software\Clients\Mail\Microsoft Outlook']
ICONS = {'7f01': '0x10', '7f02': '0x20', '7f03': '0x30', '7f04': '0x40'}


def text(value):
    if len(value) >= 2 and value[0] == value[-1] == '"':
        value = value[1:-1]
    value = re.sub(r'\\u\{([0-9a-fA-F]+)\}', lambda m: chr(int(m[1], 16)), value)
    return value.replace('{profile}', profile)


def host(path):
    """The host path of a Windows path on drive C:, found without regard to case."""
    at = drive
    for part in [p for p in text(path)[3:].split('\\') if p]:
        names = {n.lower(): n for n in os.listdir(at)} if os.path.isdir(at) else {}
        at = os.path.join(at, names.get(part.lower(), part))
    return at


def encode(spec):
    kind, _, data_ = spec.partition(' ')
    if kind == 'dword':
        return 4, int(data_).to_bytes(4, 'little')
    if kind == 'hex':
        type_, _, hexes = data_.partition(' ')
        return int(type_), bytes(int(h, 16) for h in hexes.split(',') if h)
    ends = '\0\0' if kind == 'multi_sz' else '\0'
    return {'sz': 1, 'expand_sz': 2, 'multi_sz': 7}[kind], (text(data_) + ends).encode('utf-16-le')


def show(value):
    return '%d:%s' % (value[0], value[1].hex()) if value else 'absent'


def rows():
    table_, row = [], None
    for line in open(table, encoding='utf-8').read().split('\n'):
        if line.startswith('== '):
            row = {'name': line[3:], 'setup': [], 'expect': []}
            table_.append(row)
        elif line == '-- expect':
            row['part'] = 'expect'
        elif row and line and not line.startswith('#'):
            key, _, value = line.partition(': ')
            row[row.get('part', 'setup')].append((key, value))
    return table_


def registry(row):
    """The row's registry as one import: the product's keys removed, then its values set."""
    lines = ['Windows Registry Editor Version 5.00', '']
    lines += ['[-%s\\%s]' % (ROOTS[k[:4]], k[5:]) for k in KEYS]
    values = [(r'HKLM\SOFTWARE\Orvane\DERVO\Path', 'sz "%s"' % install)]
    values = [v for v in values if ('unset', v[0]) not in row['setup']]
    values += [tuple(v.split(' = ', 1)) for k, v in row['setup'] if k == 'reg']
    for path, spec in values:
        key, _, name = path.rpartition('\\')
        type_, raw = encode(spec)
        lines += ['[%s\\%s]' % (ROOTS[key[:4]], key[5:]), '"%s"=hex(%x):%s' % (name, type_, ','.join('%02x' % b for b in raw))]
    with open(drive + '/row.reg', 'wb') as f:
        f.write(codecs.BOM_UTF16_LE + '\r\n'.join(lines + ['']).encode('utf-16-le'))
    # Not captured: a Wine service that the call starts would keep a pipe open for good.
    subprocess.run(['wine', 'regedit', '/S', 'C:\\row.reg'], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def flag():
    """The flag as (type, bytes), read back through an export of the product key."""
    out = drive + '/flag.reg'
    os.path.exists(out) and os.remove(out)
    subprocess.run(['wine', 'regedit', '/E', 'C:\\flag.reg', r'HKEY_CURRENT_USER\SOFTWARE\Orvane\DERVO'],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    exported = open(out, 'rb').read().decode('utf-16') if os.path.exists(out) else ''
    m = re.search(r'^"DisableOutlookConnector"=(.*(?:\\\r?\n.*)*)', exported, re.M)
    if not m:
        return None
    value = re.sub(r'\\\r?\n\s*', '', m[1]).strip()
    if value.startswith('dword:'):
        return 4, int(value[6:], 16).to_bytes(4, 'little')
    if value.startswith('"'):
        return 1, (value[1:-1].replace('\\\\', '\\') + '\0').encode('utf-16-le')
    m = re.match(r'hex(?:\((\w+)\))?:(.*)', value)
    return int(m[1] or '3', 16), bytes(int(h, 16) for h in m[2].split(',') if h)


standins = {}


def processes(names):
    """Exactly the stand-ins that the row names are running."""
    for name in list(standins):
        if name not in names or standins[name].poll() is not None:
            standins.pop(name).kill()
    for i, name in enumerate(names):
        if name in standins:
            continue
        folder = '%s/standin/%d' % (drive, i)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        shutil.copy(outlook, folder + '/' + name)
        standins[name] = subprocess.Popen(['wine', 'C:\\standin\\%d\\%s' % (i, name)], stderr=subprocess.DEVNULL)
        for _ in range(300):
            if os.path.exists(folder + '/running'):
                break
            time.sleep(0.1)


def play(row):
    """Runs the program once as the row sets it up; returns its exit code and its trace."""
    setup = dict(row['setup'])
    registry(row)
    folder = host(install)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder + '/Data')
    library = {'none': None, 'three_exports': three}.get(setup.get('library'), dll)
    library and shutil.copy(library, folder + '/tracelib.dll')
    shutil.copy(exe, folder)
    if 'nostrings' not in setup:
        for name in os.listdir(data):
            name.endswith('.xml') and shutil.copy(os.path.join(data, name), folder + '/Data')
    for key, value in row['setup']:
        if key == 'file':
            path, _, content = value.partition(' = ')
            os.makedirs(os.path.dirname(host(path)), exist_ok=True)
            open(host(path), 'w', encoding='utf-8').write(content)
        if key == 'dir':
            os.makedirs(host(value), exist_ok=True)
    for name in ('mapistub.dll', 'mapi32.dll'):
        os.path.exists(system + name) and os.remove(system + name)
    kind = setup.get('stub')
    kind and shutil.copy(three if kind == 'noexport' else stub, system + ('mapi32.dll' if kind == 'mapi32' else 'mapistub.dll'))
    overrides = {'mapistub': 'mapistub=n;mapi32=d', 'mapi32': 'mapistub=d;mapi32=n', 'noexport': 'mapistub=n;mapi32=d'}
    os.path.exists(drive + '/mapistub-calls.txt') and os.remove(drive + '/mapistub-calls.txt')
    open(drive + '/mapistub-answers.txt', 'w').write(''.join(v + '\n' for k, v in row['setup'] if k == 'answer'))
    processes([text(v) for k, v in row['setup'] if k == 'process'])
    open(drive + '/launch.txt', 'w', encoding='utf-8').write('"%splainrunctl.exe"%s' % (
        install, ' ' + text(setup['args']) if 'args' in setup else ''))
    env = dict(os.environ, WINEDEBUG='-all,+msgbox,trace+cursor,warn+seh',
               WINEDLLOVERRIDES=overrides.get(kind, 'mapistub=d;mapi32=d'))
    for attempt in range(3):
        trace = open(drive + '/trace.txt', 'w+b')
        run = subprocess.Popen(['wine', 'C:\\launch.exe'], env=env, stderr=trace, stdout=subprocess.DEVNULL)
        boxes = []
        while run.poll() is None:
            time.sleep(0.1)
            trace.seek(0)
            shown = trace.read().decode('utf-8', 'replace')
            if shown.count('MSGBOX_OnInit') > len(boxes):
                boxes.append(close_box(shown))
        trace.seek(0)
        shown = trace.read().decode('utf-8', 'replace')
        # Each box's icon is loaded after its set-up line, so it is read once the run is over.
        icons = [re.findall(r'LoadIconW 0000000000000000, #(7f0\d)', part)[:1] for part in shown.split('MSGBOX_OnInit')[1:]]
        boxes = ['%s | %s' % (box, ICONS.get(icon[0] if icon else '', '0x0')) for box, icon in zip(boxes, icons)]
        # This Wine now and then fails to set up a process before any of its code runs.
        if run.returncode != 1 or 'failed to map the shared user data' not in shown:
            return run.returncode, boxes, shown


def close_box(shown):
    """Reads the newest box (caption and text) and answers it with Return."""
    message = re.findall(r'MSGBOX_OnInit L"(.*)"', shown)[-1]
    message = re.sub(r'\\([0-9a-f]{4})', lambda m: chr(int(m[1], 16)), message)
    message = message.replace('\\"', '"').replace('\\\\', '\\')
    for _ in range(300):
        for window in subprocess.run(['xdotool', 'search', '--class', 'plainrunctl.exe'], capture_output=True,
                                     text=True).stdout.split():
            info = subprocess.run(['xwininfo', '-id', window], capture_output=True, text=True).stdout
            name = subprocess.run(['xdotool', 'getwindowname', window], capture_output=True, text=True).stdout
            if 'IsViewable' in info and name.strip('\n') != 'Default IME':
                subprocess.run(['xdotool', 'key', '--window', window, 'Return'], capture_output=True)
                subprocess.run(['xdotool', 'keyup', 'Return'], capture_output=True)
                return '%s | %s' % (name.rstrip('\n'), message)
        time.sleep(0.1)
    return 'no window for ' + message


def observe(row, boxes, shown):
    expect = {'flag': show(flag()), 'box': boxes, 'log': [], 'mapi': [], 'debug': [], 'folders': []}
    log = host(profile + r'\AppData\Local\Orvane\Keelstore\DebugLogs\logplainrunctl.csv')
    expect['nolog'] = not os.path.exists(log)
    if os.path.exists(log):
        rows_ = list(csv.reader(io.StringIO(open(log, encoding='utf-8', newline='').read(), newline='')))
        expect['log'] = [r[1][0] + ' ' + r[5] if len(r) == 6 else 'torn row %r' % r for r in rows_[1:]]
    calls = drive + '/mapistub-calls.txt'
    expect['mapi'] = open(calls).read().splitlines() if os.path.exists(calls) else []
    expect['debug'] = [d.replace('\\\\', '\\') for d in re.findall(r'OutputDebugStringA "(.*)"', shown)]
    expect['folders'] = [k + ' ' + text(v) for k, v in row['expect'] if k in ('folder', 'nofolder')
                         and os.path.isdir(host(v)) == (k == 'folder')]
    return expect


def wanted(row):
    want = {'flag': 'absent', 'box': [], 'log': [], 'mapi': [], 'debug': [], 'folders': [], 'nolog': False}
    for key, value in row['expect']:
        if key == 'flag':
            want['flag'] = show(encode(value)) if value != 'absent' else 'absent'
        elif key in ('box', 'log', 'mapi', 'debug'):
            want[key].append(text(value))
        elif key in ('folder', 'nofolder'):
            want['folders'].append(key + ' ' + text(value))
        elif key == 'nolog':
            want['nolog'] = True
    return want


def snapshot():
    """Everything on drive C: but the system folder and the running stand-ins."""
    return {os.path.join(d, n) for d, dirs, files in os.walk(drive)
            if not os.path.relpath(d, drive).startswith(('windows', 'standin')) for n in dirs + files if n != 'standin'}


def play_all():
    """Plays the rows; returns how many were played and how many failed."""
    shutil.rmtree(host(profile + r'\AppData\Local\Orvane'), ignore_errors=True)
    before, failed, played = snapshot(), 0, 0
    for row in rows():
        if any(k in ('fault', 'deny', 'native') for k, _ in row['setup']):
            continue
        for path in sorted(snapshot() - before, reverse=True):
            shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else os.path.exists(path) and os.remove(path)
        code, boxes, shown = play(row)
        got, want = observe(row, boxes, shown), wanted(row)
        played += 1
        problems = ['exit code %s' % code] if code != 0 else []
        problems += ['%s:\n    %s' % (k, '\n    '.join(difflib.unified_diff(want[k], got[k], 'want', 'got', lineterm='', n=1))
                                       if isinstance(want[k], list) else 'got %r, want %r' % (got[k], want[k]))
                     for k in want if got[k] != want[k]]
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
