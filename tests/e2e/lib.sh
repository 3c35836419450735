# Helpers for end-to-end tests of the real programs under Wine. Source it; then call
# check ... and finish at the end.
set -u
: "${WINEPREFIX:?}" "${DISPLAY:?}"
export WINEDEBUG=${WINEDEBUG:--all}
passed=0 failed=0
install_dir="$WINEPREFIX/drive_c/Program Files/Orvane"
install_win='C:\Program Files\Orvane\'
exe_win='C:\Program Files\Orvane\plainrunctl.exe'
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# check NAME ACTUAL EXPECTED
check() {
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$3" "$2"
  fi
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

user_dir() { ls -d "$WINEPREFIX"/drive_c/users/* | grep -v -i /public | head -n 1; }
log_file() { echo "$(user_dir)/AppData/Local/Orvane/Keelstore/DebugLogs/logplainrunctl.csv"; }

# install EXE DLL DATA_DIR: lays the files out as the installer does and sets "Path".
install_build() {
  rm -rf "$install_dir"
  mkdir -p "$install_dir/Data"
  cp "$1" "$2" "$install_dir/"
  cp "$3"/*.xml "$install_dir/Data/"
  reg_set 'HKLM\SOFTWARE\Orvane\DERVO' Path REG_SZ "$install_win"
}

reg_set() { wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1; }
reg_delete() { wine reg delete "$1" /v "$2" /f >/dev/null 2>&1 || true; }
# The DWORD flag as a number, or "absent".
flag() {
  local out
  out=$(wine reg query 'HKCU\SOFTWARE\Orvane\DERVO' /v DisableOutlookConnector 2>/dev/null | tr -d '\r' |
    awk '/DisableOutlookConnector/ {print $3}')
  if [ -z "$out" ]; then echo absent; else printf '%d\n' "$out"; fi
}
set_flag() { reg_set 'HKCU\SOFTWARE\Orvane\DERVO' DisableOutlookConnector REG_DWORD "$1"; }

# wine_program SECONDS ARGS...: runs the installed program as `timeout SECONDS wine` would,
# with Wine's output on standard output and error as usual (WINEDEBUG as the caller set
# it), and returns its exit code. This Wine (packaged without its preloader) now and then
# fails to set up a new process before any code of the program runs: it says "failed to
# map the shared user data" and ends with 1, in about one start of 3,000 here. Such a
# start is made again, at most twice, with a "wine_program: start N failed" line on
# standard error.
wine_program() {
  local seconds=$1 err rc=0 attempt
  shift
  err=$(mktemp)
  for attempt in 1 2 3; do
    # Standard output as it is; standard error through tee, which keeps a copy to look at.
    {
      WINEDEBUG="${WINEDEBUG:--all},err+virtual" timeout "$seconds" wine "$exe_win" "$@" 2>&1 1>&3 3>&- |
        tee "$err" >&2
      rc=${PIPESTATUS[0]}
    } 3>&1
    if [ "$rc" -ne 1 ] || ! grep -q 'failed to map the shared user data' "$err"; then break; fi
    echo "wine_program: start $attempt failed in Wine" >&2
  done
  rm -f "$err"
  return "$rc"
}

# run ARGS...: runs the installed program and prints its exit code.
run() {
  local rc=0
  wine_program 120 "$@" >/dev/null 2>&1 || rc=$?
  echo "$rc"
}

# The message column of the log, one line each (the header row left out).
log_messages() {
  python3 - "$(log_file)" <<'PY'
import csv, sys
try:
    with open(sys.argv[1], newline='', encoding='utf-8') as f:
        rows = list(csv.reader(f))
except FileNotFoundError:
    sys.exit(0)
for row in rows[1:]:
    print(row[1][0] + ' ' + row[5])
PY
}

# find_box [TRACE]: the program's message box window, waiting up to 30 s for it (the first box of a fresh
# Wine session takes about 10 s to appear); empty when
# none appears. With TRACE (the output of a run under WINEDEBUG=+msgbox), it first waits
# until the box has been set up, so that no other window of a starting program is taken.
find_box() {
  local id
  for _ in $(seq 300); do
    if [ -z "${1:-}" ] || grep -q -a MSGBOX_OnInit "$1" 2>/dev/null; then
      for id in $(xdotool search --class plainrunctl.exe 2>/dev/null); do
        [ "$(xdotool getwindowname "$id" 2>/dev/null)" == "Default IME" ] && continue
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return; }
      done
    fi
    sleep 0.1
  done
}

# close_box WINDOW: presses Return in the box, which answers OK and ends MessageBoxW, then
# waits until the window is gone, so that a later find_box cannot take it for a new box.
# The box closes on the key press, so the release that xdotool sends to it fails (BadWindow)
# and Wine would keep Return held down, closing the next box at once: release it for real.
close_box() {
  xdotool key --window "$1" Return 2>/dev/null || true
  xdotool keyup Return 2>/dev/null || true
  for _ in $(seq 50); do
    xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable' || return 0
    sleep 0.1
  done
}

# lnk_command FILE: "target|arguments" of a shell link, read from its LinkInfo and its
# command-line string.
lnk_command() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
if data[:4] != b'\x4c\0\0\0':
    sys.exit('not a shell link')
flags = struct.unpack_from('<I', data, 20)[0]
pos = 76
if flags & 0x01:  # item ID list
    pos += 2 + struct.unpack_from('<H', data, pos)[0]
target = ''
if flags & 0x02:  # link info: local base path and common suffix, ANSI
    size, _, info_flags, _, base, _, suffix = struct.unpack_from('<7I', data, pos)
    def cstr(off):
        end = data.index(b'\0', pos + off)
        return data[pos + off:end].decode('cp1252')
    if info_flags & 1:
        target = cstr(base) + cstr(suffix)
    pos += size
strings = {}
for bit, name in ((0x04, 'name'), (0x08, 'relative'), (0x10, 'workdir'), (0x20, 'args'), (0x40, 'icon')):
    if flags & bit:
        count = struct.unpack_from('<H', data, pos)[0]
        pos += 2
        if flags & 0x80:
            text, pos = data[pos:pos + 2 * count].decode('utf-16-le'), pos + 2 * count
        else:
            text, pos = data[pos:pos + count].decode('cp1252'), pos + count
        strings[name] = text.rstrip('\0')
print(target + '|' + strings.get('args', ''))
PY
}

# ensure_outlook: the stand-in OUTLOOK.EXE (the file $outlook) runs. It ends by itself after
# two minutes, so it is started again when it has. Waits (up to 30 s) until the stand-in
# has made its "running" file, so that a process snapshot taken next finds it.
outlook_pid=
ensure_outlook() {
  local marker=$WINEPREFIX/drive_c/standin/running
  [ -n "$outlook_pid" ] && kill -0 "$outlook_pid" 2>/dev/null && [ -e "$marker" ] && return
  mkdir -p "$WINEPREFIX/drive_c/standin"
  cp "$outlook" "$WINEPREFIX/drive_c/standin/OUTLOOK.EXE"
  wine 'C:\standin\OUTLOOK.EXE' >/dev/null 2>&1 &
  outlook_pid=$!
  for _ in $(seq 300); do
    [ -e "$marker" ] && return
    sleep 0.1
  done
}
