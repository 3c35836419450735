#!/usr/bin/env bash
# wine_prefix.sh setup|cleanup PREFIX DISPLAY: a throw-away Wine prefix with an X display, or with
# none when DISPLAY is "none" (for timings, which X11's start-up would swamp). Either first
# ends what an earlier setup of PREFIX left running.
set -u
export WINEPREFIX=$2 DISPLAY=$3 WINEDEBUG=-all
[ "$3" == none ] && unset DISPLAY
wineserver -k 2>/dev/null
[ -f "$2.xvfb.pid" ] && kill "$(cat "$2.xvfb.pid")" 2>/dev/null
rm -rf "$2" "$2".xvfb.*
[ "$1" == cleanup ] && echo "prefix removed" && exit
# The display comes first: a prefix booted without one never shows a message box.
mkdir -p "$2"
if [ "$3" != none ]; then
  setsid nohup Xvfb "$3" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$2.xvfb.log" 2>&1 & echo $! >"$2.xvfb.pid"
  for _ in $(seq 50); do xdpyinfo -display "$3" >/dev/null 2>&1 && break; sleep 0.1; done
fi
wineboot -i >/dev/null 2>&1 || exit
# The user's shell folders are links to the host's home: make them folders of the prefix.
find "$2/drive_c/users" -type l -exec sh -c 'rm "$1" && mkdir "$1"' link {} \;
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || exit
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || exit
# Kept alive for the whole run, so that each test starts no server of its own; the boot's
# own server has to end first, or the persistent one refuses to start.
wineserver -w && setsid wineserver -p </dev/null >/dev/null 2>&1
# Wine's background services start with the first program and keep its output open for
# good: start them here, with nothing to hold, so that no test's output pipe waits on them.
wine cmd /c exit </dev/null >/dev/null 2>&1
echo "prefix ready: $2 on $3"
