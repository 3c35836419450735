#!/usr/bin/env bash
# prefix.sh setup|cleanup PREFIX DISPLAY: a throw-away Wine prefix with an X display.
set -eu
action=$1 prefix=$2 display=$3
export WINEPREFIX=$prefix DISPLAY=$display WINEDEBUG=-all
case $action in
setup)
  wineserver -k 2>/dev/null || true
  pkill -f "Xvfb $display" 2>/dev/null || true
  rm -rf "$prefix"
  mkdir -p "$prefix"
  # The display comes first: a prefix booted without one never shows a message box.
  setsid nohup Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$prefix.xvfb.log" 2>&1 &
  for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # Kept alive for the whole run, so that each test starts no server of its own; the boot's
  # own server has to end first, or the persistent one refuses to start.
  wineserver -w
  setsid wineserver -p </dev/null >/dev/null 2>&1 || true
  echo "prefix ready: $prefix on $display"
  ;;
cleanup)
  wineserver -k 2>/dev/null || true
  pkill -f "Xvfb $display" 2>/dev/null || true
  rm -rf "$prefix" "$prefix.xvfb.log"
  echo "prefix removed"
  ;;
esac
