#!/usr/bin/env bash
# The switch under Wine: flag, exit code, log, folders, debug output and the message box.
# Arguments: plainrunctl.exe tracelib.dll OUTLOOK.EXE data-dir three_exports.dll mapistub.dll
exe=$1 dll=$2 outlook=$3 data=$4 three=$5
source "$(dirname "$0")/lib.sh"

install_build "$exe" "$dll" "$data"
reg_delete 'HKCU\SOFTWARE\Orvane\DERVO' DisableOutlookConnector
rm -f "$(log_file)"

# What each command line does to the flag, from a given start.
while IFS='|' read -r start args expected; do
  [ "$start" == absent ] && reg_delete 'HKCU\SOFTWARE\Orvane\DERVO' DisableOutlookConnector
  [ "$start" != absent ] && set_flag "$start"
  eval "set -- $args"
  check "exit code of [$args]" "$(run "$@")" 0
  check "flag after [$args] from $start" "$(flag)" "$expected"
done <<'TABLE'
absent|/plainrun|1
1||0
0|/PLAINRUN|0
0|plainrun|0
0|"/plainrun "|0
1|/plainrun x|0
1|""|0
7||7
7|/plainrun|1
TABLE

# The first run's log, line by line.
expected_first_run="I ParseCommandLine >>
I ParseCommandLine Command line arguments: 
I ParseCommandLine Argument: $exe_win
I ParseCommandLine Argument: /plainrun
I ParseCommandLine << result: /plainrun <<
I ParseCommandLine >>
I ParseCommandLine Command line arguments: 
I ParseCommandLine Argument: $exe_win
I ParseCommandLine Argument: /plainrun
I ParseCommandLine << result: /plainrun <<
I DisableOutlookConnector >>
I DisableOutlookConnector Outlook Connector is enable, setting the disable flag to 1.
I IsOutlookRunning >>
I IsOutlookRunning << result: 0
I DisableOutlookConnector <<"
check "log of the first run" "$(log_messages | sed -n 1,15p)" "$expected_first_run"
check "log folder made" "$(test -d "$(dirname "$(log_file)")" && echo yes)" yes

# The data path policy: trimmed, tokens expanded, shown to a debugger, folder made.
reg_set 'HKCU\Software\Policies\Orvane\Keelbox' DataPath REG_SZ '  %MyDocuments%\Mail  '
mkdir -p "$(user_dir)/Documents/mail"
debug=$(WINEDEBUG=-all,warn+seh wine_program 120 2>&1 | grep -a OutputDebugStringA | sed 's/.*OutputDebugStringA //' | tr -d '\r')
check "debug output of DataPath" "$debug" "\"C:\\\\users\\\\$(basename "$(user_dir)")\\\\Documents\\\\mail\""
check "product folder under DataPath" "$(test -d "$(user_dir)/Documents/mail/Orvane/Keelstore" && echo yes)" yes
reg_delete 'HKCU\Software\Policies\Orvane\Keelbox' DataPath

# No trailing backslash on "Path": the library is not found, so nothing is logged.
rm -f "$(log_file)"
reg_set 'HKLM\SOFTWARE\Orvane\DERVO' Path REG_SZ 'C:\Program Files\Orvane'
check "exit code without library" "$(run /plainrun)" 0
check "no log without library" "$(test -e "$(log_file)" && echo exists || echo none)" none

# A library with three of the four entry points is unloaded unused.
cp "$three" "$install_dir/tracelib.dll"
reg_set 'HKLM\SOFTWARE\Orvane\DERVO' Path REG_SZ "$install_win"
check "exit code with three exports" "$(run)" 0
check "three-export library never called" "$(test -e "$WINEPREFIX/drive_c/three-exports-called" && echo called || echo no)" no
check "no log with three exports" "$(test -e "$(log_file)" && echo exists || echo none)" none
cp "$dll" "$install_dir/tracelib.dll"

# With Outlook running, changing the flag shows one information box; closing it ends the run.
ensure_outlook
set_flag 0
WINEDEBUG=-all,+msgbox wine_program 120 /plainrun >"$WINEPREFIX/msgbox.log" 2>&1 &
run_pid=$!
window=$(find_box "$WINEPREFIX/msgbox.log")
check "message box shown" "$([ -n "$window" ] && echo yes)" yes
if [ -n "$window" ]; then
  sleep 0.3
  check "message box caption" "$(xdotool getwindowname "$window")" "Outlook Connector"
  close_box "$window"
fi
rc=0
wait "$run_pid" || rc=$?
check "exit code after the box" "$rc" 0
check "message box text" "$(grep -a -o 'MSGBOX_OnInit L"[^"]*"' "$WINEPREFIX/msgbox.log" | head -n 1)" \
  'MSGBOX_OnInit L"The Outlook Connector has been disabled. Restart Outlook for the change to take effect."'
check "flag after disabling with Outlook" "$(flag)" 1
check "log says Outlook runs" "$(log_messages | grep -c 'IsOutlookRunning << result: 1')" 1
kill "$outlook_pid" 2>/dev/null
wine taskkill /f /im OUTLOOK.EXE >/dev/null 2>&1 || true

finish
