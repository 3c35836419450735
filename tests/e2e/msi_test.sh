#!/usr/bin/env bash
# The Windows Installer package under Wine: an older package upgraded to the current one,
# what it lays down, the switch run from its shortcuts, a refused downgrade, and an
# uninstall that takes the package's files and settings but leaves the user's.
# Arguments: current.msi older.msi [data-dir]
msi=$(realpath "$1") older_msi=$(realpath "$2") data=${3:-}
source "$(dirname "$0")/lib.sh"
# Shortcuts stay inside the prefix: no menu entries are made on the host.
export WINEDLLOVERRIDES="winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

company_dir="$WINEPREFIX/drive_c/Program Files/Orvane"
msi_dir="$company_dir/DERVO"
msi_dir_win='C:\Program Files\Orvane\DERVO\'
msi_exe_win="${msi_dir_win}plainrunctl.exe"
dervo_key='HKLM\SOFTWARE\Orvane\DERVO'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
scratch_win='C:\msi-test'
scratch="$WINEPREFIX/drive_c/msi-test"
work=$(mktemp -d)
trap 'rm -rf "$work" "$scratch"' EXIT

# prop MSI NAME: a value of the package's Property table.
prop() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v n="$2" '$1 == n {print $2}'; }

# msiexec_qn ARGS...: runs msiexec without UI (a package may be given by its unix path) and
# prints the exit code. Wine keeps only its low byte: 1605 "unknown product" comes out as 69,
# 1603 "failed" as 67.
msiexec_qn() {
  local args=() a rc=0
  for a in "$@"; do
    if [ -f "$a" ]; then args+=("Z:${a//\//\\}"); else args+=("$a"); fi
  done
  wine msiexec "${args[@]}" /qn >/dev/null 2>&1 || rc=$?
  echo "$rc"
}

# Our products that Windows lists as installed, one "ProductCode version" a line.
installed() {
  wine reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | awk -v name="$product_name" '
    /^HKEY_/ { n = split($0, p, "\\"); code = p[n]; shown = ""; version = ""; next }
    $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); shown = $0 }
    $1 == "DisplayVersion" { version = $3 }
    /^$/ && shown == name { print code, version; shown = "" }
    END { if (shown == name) print code, version }'
}

# reg_value KEY NAME: "TYPE|DATA" of a value, or "absent".
reg_value() {
  local line
  line=$(wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -F'    ' -v n="$2" '$2 == n {print $3 "|" $4}')
  echo "${line:-absent}"
}

# The Start-menu folder that holds the shortcuts, one line for each place it exists.
# Windows puts a per-machine package's shortcuts in the common Start menu; Wine's
# installer ignores ALLUSERS there and uses the installing user's, so both are looked at.
shortcut_dirs() {
  local d
  for d in "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Orvane" \
           "$(user_dir)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Orvane"; do
    [ -d "$d" ] && echo "$d"
  done
}

# Everything the product keeps for the user in the registry.
user_settings() { wine reg query 'HKCU\SOFTWARE\Orvane' /s 2>&1 | tr -d '\r'; }

# A digest of the log file, or "absent".
log_digest() { if [ -f "$(log_file)" ]; then md5sum <"$(log_file)"; else echo absent; fi; }

product_name=$(prop "$msi" ProductName)
version=$(prop "$msi" ProductVersion) older_version=$(prop "$older_msi" ProductVersion)
code=$(prop "$msi" ProductCode) older_code=$(prop "$older_msi" ProductCode)
check "older package is older ($older_version < $version)" \
  "$(printf '%s\n' "$version" "$older_version" | sort -V | head -n 1)" "$older_version"
check "nothing of ours installed at the start" "$(installed)" ""
# What another product may already keep in the company folder must outlive our uninstall.
company_before=$(cd "$company_dir" 2>/dev/null && find . -mindepth 1 -path ./DERVO -prune -o -print | sort)

# A per-machine package leaves the user's settings alone.
user_settings_before=$(user_settings)

# The older package, then the current one over it.
check "install $older_version" "$(msiexec_qn /i "$older_msi")" 0
check "registered after installing $older_version" "$(installed)" "$older_code $older_version"
# A changed file stands for the older package's content: the upgrade must replace it.
echo stale >>"$msi_dir/Data/modulestrings.xml"
check "upgrade to $version" "$(msiexec_qn /i "$msi")" 0
check "registered after the upgrade" "$(installed)" "$code $version"
check "older product code no longer installed" "$(msiexec_qn /x "$older_code")" $((1605 % 256))
check "user settings untouched by installing" "$(user_settings)" "$user_settings_before"

# The files: exactly what the package holds, and (with data-dir) exactly the string files.
msiextract -C "$work/package" "$msi" >/dev/null
check "installed files equal the package's" "$(diff -r "$work/package/Orvane/DERVO" "$msi_dir" 2>&1)" ""
for f in plainrunctl.exe tracelib.dll Data/modulestrings.xml; do
  check "installed $f" "$(test -f "$msi_dir/$f" && echo yes)" yes
done
if [ -n "$data" ]; then
  check "Data holds the string files" "$(cd "$msi_dir/Data" && ls)" "$(cd "$data" && ls -- *.xml)"
  check "string files unchanged" "$(for f in "$data"/*.xml; do cmp "$f" "$msi_dir/Data/${f##*/}"; done 2>&1)" ""
fi

# The program finds its folder through "Path", in the 64-bit registry view only.
check "Path value" "$(reg_value "$dervo_key" Path)" "REG_SZ|$msi_dir_win"
check "no Path in the 32-bit view" "$(reg_value 'HKLM\SOFTWARE\Wow6432Node\Orvane\DERVO' Path)" absent

# The shortcuts: where they point, and what their command does to the flag. The command is
# run as read from the link: "wine start" on a link does not reliably wait for the program.
mapfile -t menus < <(shortcut_dirs)
check "one Orvane Start-menu folder" "${#menus[@]}" 1
menu=${menus[0]:-$work/no-menu}
check "shortcuts in the folder" "$(cd "$menu" 2>/dev/null && ls)" \
  "Disable Outlook Connector.lnk
Enable Outlook Connector.lnk"
rm -f "$(log_file)"
while IFS='|' read -r name args before after; do
  command=$(lnk_command "$menu/$name.lnk" 2>&1)
  check "$name: command" "$command" "$msi_exe_win|$args"
  set_flag "$before"
  rc=0
  # shellcheck disable=SC2086 # the link's arguments split as a command line would
  wine "${command%%|*}" ${command#*|} >/dev/null 2>&1 || rc=$?
  check "$name: exit code" "$rc" 0
  check "$name: flag $before -> $after" "$(flag)" "$after"
done <<'TABLE'
Disable Outlook Connector|/plainrun|0|1
Enable Outlook Connector||1|0
TABLE
# Both runs logged through the installed tracelib.dll.
check "program named in the log" "$(log_messages | grep 'Argument: C:' | sort -u)" \
  "I ParseCommandLine Argument: $msi_exe_win"
check "switches in the log" "$(log_messages | grep -c 'setting the disable flag to')" 2

# An older package refuses to go over the current one and changes nothing.
check "downgrade refused" "$(msiexec_qn /i "$older_msi")" $((1603 % 256))
check "registered after the refused downgrade" "$(installed)" "$code $version"
check "Path after the refused downgrade" "$(reg_value "$dervo_key" Path)" "REG_SZ|$msi_dir_win"

# Uninstall: the package's files, shortcuts and "Path" go; the user's flag and log stay.
mkdir -p "$scratch"
cp "$msi_dir/plainrunctl.exe" "$scratch/"
log_sum=$(log_digest)
check "uninstall" "$(msiexec_qn /x "$msi")" 0
check "registered after uninstall" "$(installed)" ""
check "installation folder removed" "$(test -e "$msi_dir" || echo gone)" gone
if [ -n "$company_before" ]; then
  check "other products' files kept" "$(cd "$company_dir" && find . -mindepth 1 | sort)" "$company_before"
else
  check "empty company folder removed" "$(test -e "$company_dir" || echo gone)" gone
fi
check "Path removed" "$(reg_value "$dervo_key" Path)" absent
check "no shortcut folder left" "$(shortcut_dirs)" ""
check "flag kept" "$(flag)" 0
check "log kept" "$(log_digest)" "$log_sum"

# Without "Path" a copy of the program still switches, exits 0 and loads no library.
rc=0
wine "$scratch_win\\plainrunctl.exe" /plainrun >/dev/null 2>&1 || rc=$?
check "copy after uninstall: exit code" "$rc" 0
check "copy after uninstall: flag" "$(flag)" 1
check "copy after uninstall: nothing logged" "$(log_digest)" "$log_sum"
finish
