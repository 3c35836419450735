#!/usr/bin/env bash
# The box speaks the user's language: "LanguageID" first, else Outlook's language from its
# MAPI stub (our stand-in in the system folder), else US English; with no string file at all
# it is empty, after three logged load attempts, and the run still exits with 0.
# Arguments: plainrunctl.exe tracelib.dll data-dir OUTLOOK.EXE mapistub.dll
exe=$1 dll=$2 data=$3 outlook=$4 stub=$5
source "$(dirname "$0")/lib.sh"
install_build "$exe" "$dll" "$data"
drive_c="$WINEPREFIX/drive_c"
ensure_outlook
text_of() { grep -a -o "<string id=\"$2\">[^<]*" "$data/$1" | sed 's/.*">//'; }

# LanguageID | Outlook's MAPI path ("-": no stub) | string files kept | expected file
while IFS='|' read -r language mapi keep expected; do
  if [ "$language" == - ]; then reg_delete 'HKCU\SOFTWARE\Orvane\DERVO' LanguageID; else
    reg_set 'HKCU\SOFTWARE\Orvane\DERVO' LanguageID REG_SZ "$language"; fi
  rm -f "$drive_c/windows/system32/mapistub.dll" "$drive_c/mapistub-answers.txt"
  if [ "$mapi" != - ]; then
    cp "$stub" "$drive_c/windows/system32/mapistub.dll"
    echo "*|*|1|$mapi" >"$drive_c/mapistub-answers.txt"
  fi
  [ "$keep" == all ] || find "$install_dir/Data" -name '*.xml' -delete
  rm -f "$(log_file)"
  set_flag 0
  WINEDLLOVERRIDES="mapistub=n" WINEDEBUG=-all,+msgbox wine_program 120 /plainrun >"$WINEPREFIX/box.log" 2>&1 &
  run_pid=$!
  box=$(find_box "$WINEPREFIX/box.log")
  caption=$(xdotool getwindowname "$box" 2>/dev/null)
  [ -n "$box" ] && close_box "$box"
  rc=0
  wait "$run_pid" || rc=$?
  case="[$language|$mapi|$keep]"
  check "$case exit code" "$rc" 0
  check "$case box shown" "$([ -n "$box" ] && echo yes)" yes
  if [ "$expected" == none ]; then
    want_caption= want_text=
  else
    want_caption=$(text_of "$expected" IDS_Title) want_text=$(text_of "$expected" IDS_DisableOC)
  fi
  check "$case caption" "$caption" "$want_caption"
  check "$case text" "$(grep -a -o 'MSGBOX_OnInit L"[^"]*"' "$WINEPREFIX/box.log" | sed 's/^MSGBOX_OnInit L"//; s/"$//' |
    python3 -c 'import re,sys; print(re.sub(r"\\([0-9a-f]{4})", lambda m: chr(int(m[1], 16)), sys.stdin.read().strip()))')" "$want_text"
  [ "$expected" == none ] && check "$case three load errors" "$(log_messages | grep -c 'E ModuleStrings::Initialize Error loading xml file: 0x80004005(try [123])')" 3
  [ "$keep" == all ] || cp "$data"/*.xml "$install_dir/Data/"
done <<'TABLE'
1031|-|all|modulestrings_1031.xml
-|C:\Program Files\Common Files\System\MSMAPI\1036\MSMAPI32.DLL|all|modulestrings_1036.xml
-|-|all|modulestrings.xml
1033|C:\x\MSMAPI\1036\MSMAPI32.DLL|all|modulestrings.xml
1031|-|none|none
TABLE
kill "$outlook_pid" 2>/dev/null
wine taskkill /f /im OUTLOOK.EXE >/dev/null 2>&1 || true
finish
