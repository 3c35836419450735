# Helpers for end-to-end tests of the real programs under Wine. Source it; then call
# check for each expectation and finish at the end.
set -u
: "${WINEPREFIX:?}" "${DISPLAY:?}"
export WINEDEBUG=${WINEDEBUG:--all}
install_dir="$WINEPREFIX/drive_c/Program Files/Orvane" install_win='C:\Program Files\Orvane\'
passed=0 failed=0
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# check NAME ACTUAL EXPECTED
check() { [ "$2" == "$3" ] && passed=$((passed + 1)) ||
  { failed=$((failed + 1)) && printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$3" "$2"; }; }
finish() { echo "$passed passed, $failed failed" && [ "$failed" -eq 0 ]; }

user_dir() { ls -d "$WINEPREFIX"/drive_c/users/* | grep -v -i /public | head -n 1; }
log_file() { echo "$(user_dir)/AppData/Local/Orvane/Keelstore/DebugLogs/logplainrunctl.csv"; }

reg_set() { wine reg add "$1" /v "$2" /t "$3" /d "$4" /f >/dev/null 2>&1; }
# reg_value KEY NAME: "TYPE|DATA" of a value, or "absent".
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -F'    ' -v n="$2" '$2 == n {v = $3 "|" $4}
  END {print (v == "" ? "absent" : v)}'; }
# The flag as a number when it is a DWORD, else as reg_value shows it.
flag() { local v && v=$(reg_value 'HKCU\SOFTWARE\Orvane\DERVO' DisableOutlookConnector)
  if [[ $v == REG_DWORD\|* ]]; then echo $((${v#*|})); else echo "$v"; fi; }
set_flag() { reg_set 'HKCU\SOFTWARE\Orvane\DERVO' DisableOutlookConnector REG_DWORD "$1"; }
