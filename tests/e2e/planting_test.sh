#!/usr/bin/env bash
# Planted DLLs: copies of a DLL that records its own loads lie under the names
# tracelib.dll, mapistub.dll and mapi32.dll in the current folder of the run, in the
# program's own folder and in a folder on PATH. Whatever "Path" says, none of them may
# be loaded. Outlook's stand-in runs, so that every run also looks up the MAPI stub.
# Arguments: plainrunctl.exe tracelib.dll data-dir OUTLOOK.EXE planted.dll
exe=$1 dll=$2 data=$3 outlook=$4 planted=$5
source "$(dirname "$0")/lib.sh"
c="$WINEPREFIX/drive_c" key='HKLM\SOFTWARE\Orvane\DERVO' mail='HKLM\Software\Clients\Mail\Microsoft Outlook'
# What a run with the real library logs when it has asked the MAPI stub (and had an answer).
mapi='^I OutlookInformation::GetOutlookLanguageID MAPIDir : '
trap 'kill "$(cat "$WINEPREFIX/standin.pid" 2>/dev/null)" 2>/dev/null; rm -rf "$WINEPREFIX/standin.pid" "$work"
  rm -rf "$c"/{planted-*,no-tracelib,standin,windows/system32/mapistub.dll}; install_build "$exe" "$dll" "$data"; wine reg delete "$mail" /f >/dev/null 2>&1' EXIT
install_build "$exe" "$dll" "$data" && mkdir -p "$c/no-tracelib"
wine reg delete 'HKCU\SOFTWARE\Orvane\DERVO' /v LanguageID /f >/dev/null 2>&1
# Outlook's component id, so that the second pass of the language lookup hands Wine's own
# stub an id: given none, as the lookup does without this value, that stub crashes.
reg_set "$mail" MSIComponentID REG_SZ '{C0FFEE00-0000-0000-0000-000000000001}'

# plant FOLDER NAME...: copies of the recording DLL as each NAME.dll.
plant() { mkdir -p "$1" && for name in "${@:2}"; do cp "$planted" "$1/$name.dll"; done; }
# run_plainrun [NAME=VALUE...]: /plainrun with the flag at 0 from the planted current folder,
# with the planted folder on PATH and the given environment; answers the box. Prints
# "EXIT-CODE box FLAG; " ("no-box" when none was shown) and the planted DLLs that were
# loaded, one path a line, lower case.
run_plainrun() {
  ensure_outlook && set_flag 0 && rm -f "$c/planted-loads.txt"
  (cd "$c/planted-cwd" && export WINEPATH='C:\planted-path' "$@" &&
    WINEDEBUG=-all,+msgbox wine_program "$work/trace" 60 /plainrun; echo $? >"$work/rc") &
  shown=$(answer_box "$work/trace" $!) && wait $!
  echo "$(cat "$work/rc") ${shown:-no-box} $(flag); $(tr -d '\r' <"$c/planted-loads.txt" 2>/dev/null | tr 'A-Z' 'a-z')"
}

# "Path" right, absent, empty, relative, and pointing to a folder without the library; only
# where it is right does the real library lie there, so that a log must appear. Each place is
# tried on its own: but for the program's folder itself, that keeps no tracelib.dll, and for
# the current folder one lies where the relative "Path" leads too.
for path in "$install_win" '<absent>' '' 'Orvane\' 'C:\no-tracelib\'; do
  wine reg delete "$key" /v Path /f >/dev/null 2>&1
  [ "$path" == '<absent>' ] || reg_set "$key" Path REG_SZ "$path"
  for place in "$c/planted-cwd" "$install_dir" "$c/planted-path"; do
    rm -rf "$c"/planted-{cwd,path} "$install_dir"/{tracelib,mapistub,mapi32}.dll "$(log_file)"
    mkdir -p "$c/planted-cwd" && plant "$place" tracelib mapistub mapi32
    [ "$place" != "$c/planted-cwd" ] || plant "$place/Orvane" tracelib
    [ "$path" != "$install_win" ] || cp "$dll" "$install_dir/tracelib.dll"
    check "Path $path, planted in ${place#"$c"/}: exit code, box, flag; planted DLLs loaded; log written, MAPI stub asked" \
      "$(run_plainrun) $(test -s "$(log_file)" && echo yes || echo no) $(csv_log messages "$(log_file)" 2>/dev/null | grep -c "$mapi")" \
      "0 box 1;  $([ "$path" == "$install_win" ] && echo 'yes 1' || echo 'no 0')"
  done
done

reg_set "$key" Path REG_SZ "$install_win" && cp "$dll" "$install_dir/tracelib.dll"

# With native stubs preferred, Wine would load a stub from the system folder only: none
# there, nothing is loaded; a copy there is loaded, and still no planted one elsewhere.
for d in "$c/planted-cwd" "$c/planted-path"; do plant "$d" tracelib mapistub mapi32; done && plant "$install_dir" mapistub mapi32
for system_stub in '' 'c:\windows\system32\mapistub.dll'; do
  rm -f "$c/windows/system32/mapistub.dll" && { [ -z "$system_stub" ] || cp "$planted" "$c/windows/system32/mapistub.dll"; }
  check "native stubs, stub in the system folder: ${system_stub:-none}" \
    "$(run_plainrun 'WINEDLLOVERRIDES=mapistub=n;mapi32=n')" "0 box 1; $system_stub"
done
finish
