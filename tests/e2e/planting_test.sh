#!/usr/bin/env bash
# Planted DLLs: copies of a DLL that records its own loads lie under the names
# tracelib.dll, mapistub.dll and mapi32.dll in the current folder of the run, in the
# program's own folder and in a folder on PATH. Whatever "Path" says, none of them may
# be loaded. Outlook's stand-in runs, so that every run also looks up the MAPI stub.
# Arguments: plainrunctl.exe tracelib.dll data-dir OUTLOOK.EXE planted.dll
exe=$1 dll=$2 data=$3 outlook=$4 planted=$5
source "$(dirname "$0")/lib.sh"

drive_c="$WINEPREFIX/drive_c"
loads="$drive_c/planted-loads.txt"
cwd_dir="$drive_c/planted-cwd" path_dir="$drive_c/planted-path" empty_dir="$drive_c/no-tracelib"
system_stub="$drive_c/windows/system32/mapistub.dll"
trace="$WINEPREFIX/planting-msgbox.log"
outlook_pid=

cleanup() {
  [ -n "$outlook_pid" ] && kill "$outlook_pid" 2>/dev/null && wait "$outlook_pid" 2>/dev/null
  rm -rf "$cwd_dir" "$path_dir" "$empty_dir" "$drive_c/standin" "$loads" "$trace" "$system_stub"
  rm -f "$install_dir/mapistub.dll" "$install_dir/mapi32.dll"
  cp "$dll" "$install_dir/tracelib.dll" 2>/dev/null
  reg_set 'HKLM\SOFTWARE\Orvane\DERVO' Path REG_SZ "$install_win"
  wine reg delete 'HKLM\Software\Clients\Mail\Microsoft Outlook' /f >/dev/null 2>&1
}
trap cleanup EXIT

# plant FOLDER NAME...: copies of the recording DLL under each name.
plant() {
  local folder=$1 name
  shift
  mkdir -p "$folder"
  for name in "$@"; do cp "$planted" "$folder/$name"; done
}

install_build "$exe" "$dll" "$data"
reg_delete 'HKCU\SOFTWARE\Orvane\DERVO' LanguageID
# Outlook's component id, so that the second pass of the language lookup hands Wine's own
# stub an id: given none, as the lookup does without this value, that stub crashes.
reg_set 'HKLM\Software\Clients\Mail\Microsoft Outlook' MSIComponentID REG_SZ '{C0FFEE00-0000-0000-0000-000000000001}'

mkdir -p "$empty_dir" "$cwd_dir"


# run_plainrun [NAME=VALUE...]: /plainrun from the planted current folder with the planted
# folder on PATH and the given environment; closes the box and prints the exit code and
# whether a box was shown ("0 box").
run_plainrun() {
  local rc_file="$WINEPREFIX/planting-rc" window rc
  ensure_outlook
  rm -f "$rc_file" "$trace"
  (
    cd "$cwd_dir" || exit
    rc=0
    [ $# -eq 0 ] || export "$@"
    WINEPATH='C:\planted-path' WINEDEBUG=-all,+msgbox wine_program 60 /plainrun >"$trace" 2>&1 || rc=$?
    echo "$rc" >"$rc_file"
  ) &
  local run=$! shown=no-box
  # The box may come late (the first box of a Wine session waits about 10 s for the
  # desktop process): keep looking until the run ends.
  while kill -0 "$run" 2>/dev/null; do
    if grep -q -a MSGBOX_OnInit "$trace" 2>/dev/null; then
      window=$(find_box "$trace")
      [ -n "$window" ] && close_box "$window" && shown=box && sleep 0.5
    else
      sleep 0.05
    fi
  done
  wait "$run"
  echo "$(cat "$rc_file" 2>/dev/null) $shown"
}

# The DLLs that were loaded from a planted copy, one path a line, lower case.
planted_loads() { [ -e "$loads" ] && tr -d '\r' <"$loads" | tr 'A-Z' 'a-z'; }

# plant_only PLACE (cwd, program or PATH): planted copies in that place and no other, so
# that each place is tried on its own. Other than for "program", the program's folder is
# left without any tracelib.dll.
plant_only() {
  rm -rf "$cwd_dir" "$path_dir"
  rm -f "$install_dir/mapistub.dll" "$install_dir/mapi32.dll" "$install_dir/tracelib.dll"
  mkdir -p "$cwd_dir"
  case $1 in
  cwd)
    plant "$cwd_dir" tracelib.dll mapistub.dll mapi32.dll
    plant "$cwd_dir/Orvane" tracelib.dll  # where the relative "Path" below would lead
    ;;
  program) plant "$install_dir" tracelib.dll mapistub.dll mapi32.dll ;;
  PATH) plant "$path_dir" tracelib.dll mapistub.dll mapi32.dll ;;
  esac
}

# What "Path" says, and whether the real library lies there so that a log must appear.
while IFS='|' read -r name path real_library; do
  if [ "$path" == '<absent>' ]; then
    reg_delete 'HKLM\SOFTWARE\Orvane\DERVO' Path
  else
    reg_set 'HKLM\SOFTWARE\Orvane\DERVO' Path REG_SZ "$path"
  fi
  for place in cwd program PATH; do
    plant_only "$place"
    [ "$real_library" == yes ] && cp "$dll" "$install_dir/tracelib.dll"
    rm -f "$loads" "$(log_file)"
    set_flag 0
    check "Path $name, planted in $place: exit code and box" "$(run_plainrun)" "0 box"
    check "Path $name, planted in $place: flag" "$(flag)" 1
    check "Path $name, planted in $place: planted DLLs loaded" "$(planted_loads)" ""
    check "Path $name, planted in $place: log written" "$(test -s "$(log_file)" && echo yes || echo no)" \
      "$real_library"
  done
done <<'TABLE'
correct|C:\Program Files\Orvane\|yes
absent|<absent>|no
empty||no
relative|Orvane\|no
pointing to a folder without the library|C:\no-tracelib\|no
TABLE

# The run with the real library also shows that the MAPI stub was asked (and answered).
reg_set 'HKLM\SOFTWARE\Orvane\DERVO' Path REG_SZ "$install_win"
cp "$dll" "$install_dir/tracelib.dll"
rm -f "$(log_file)"
set_flag 0
run_plainrun >/dev/null
check "MAPI stub asked" "$(log_messages | grep -c '^I OutlookInformation::GetOutlookLanguageID MAPIDir : ')" 1

# With native stubs preferred, Wine would load a stub from the system folder only: none
# there, nothing is loaded; a copy there is loaded, and still no planted one elsewhere.
overrides='WINEDLLOVERRIDES=mapistub=n;mapi32=n'
plant "$cwd_dir" tracelib.dll mapistub.dll mapi32.dll
plant "$path_dir" tracelib.dll mapistub.dll mapi32.dll
plant "$install_dir" mapistub.dll mapi32.dll
while IFS='|' read -r name in_system expected; do
  rm -f "$loads" "$system_stub"
  [ "$in_system" == yes ] && cp "$planted" "$system_stub"
  set_flag 0
  check "native stubs, $name: exit code and box" "$(run_plainrun "$overrides")" "0 box"
  check "native stubs, $name: flag" "$(flag)" 1
  check "native stubs, $name: DLLs loaded from a copy" "$(planted_loads)" "$expected"
done <<'TABLE'
no stub in the system folder|no|
stub in the system folder|yes|c:\windows\system32\mapistub.dll
TABLE

finish
