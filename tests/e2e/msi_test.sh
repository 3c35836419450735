#!/usr/bin/env bash
# The Windows Installer package under Wine: an older package upgraded to the current one,
# what it lays down, the switch run from its shortcuts, a rebuild of the same version that
# Windows Installer takes for the same product, a refused downgrade, and an uninstall (by
# the rebuilt package) that takes the package's files and settings but leaves the user's;
# what Programs and Features shows; SHORTCUTS=0, kept by a repair that restores lost files.
# Arguments: current.msi older.msi data-dir rebuilt.msi
msi=$(realpath "$1") older_msi=$(realpath "$2") data=$3 rebuilt=$(realpath "$4")
source "$(dirname "$0")/lib.sh"
# Shortcuts stay inside the prefix: no menu entries are made on the host.
export WINEDLLOVERRIDES="winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
dir="$install_dir/DERVO" win="${install_win}DERVO\\" key='HKLM\SOFTWARE\Orvane\DERVO' scratch="$WINEPREFIX/drive_c/msi-test"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
trap 'rm -rf "$work" "$scratch"' EXIT

prop() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v n="$2" '$1 == n {print $2}'; }
package_code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
# msiexec_qn /i|/x PACKAGE-OR-CODE: msiexec without UI; prints the exit code, of which Wine
# keeps the low byte only: 1603 "failed" comes out as 67.
msiexec_qn() { [ -f "$2" ] && set -- "$1" "Z:${2//\//\\}" "${@:3}"; wine msiexec "$@" /qn >/dev/null 2>&1; echo $?; }
# The versions Windows lists as installed for the older and the current product, and how
# many entries of ours Programs and Features shows.
registered() { echo "$(reg_value "$uninstall\\$older_code" DisplayVersion) $(reg_value "$uninstall\\$code" DisplayVersion)" \
  "$(wine reg query "$uninstall" /s 2>/dev/null | grep -c "DisplayName.*$(prop "$msi" ProductName)")"; }
# The Start-menu folders that hold the shortcuts. Windows puts a per-machine package's in
# the common Start menu; Wine's installer uses the installing user's, so both are looked at.
shortcut_dirs() { ls -d {"$WINEPREFIX/drive_c/ProgramData","$(user_dir)/AppData/Roaming"}"/Microsoft/Windows/Start Menu/Programs/Orvane" 2>/dev/null; }
# The company folder but our own, which another product may share; "gone" when it is.
company() { (cd "$install_dir" 2>/dev/null && find . -mindepth 1 -path ./DERVO -prune -o -print | sort) || echo gone; }
# Everything the user keeps: the product's settings in the registry, and the log. (Wine's
# services, started by the first Wine command, keep its standard error open: not into $(...).)
user_data() { wine reg query 'HKCU\SOFTWARE\Orvane' /s 2>/dev/null; md5sum "$(log_file)" 2>&1; }

version=$(prop "$msi" ProductVersion) code=$(prop "$msi" ProductCode)
older=$(prop "$older_msi" ProductVersion) older_code=$(prop "$older_msi" ProductCode)
check "older package is older ($older < $version)" "$(printf '%s\n' "$version" "$older" | sort -V | head -n 1)" "$older"
company_before=$(company) user_before=$(user_data)
check "install $older" "$(msiexec_qn /i "$older_msi") $(registered)" "0 REG_SZ|$older absent 1"
# A changed file stands for the older package's content: the upgrade must replace it.
echo stale >>"$dir/Data/modulestrings.xml"
check "upgrade to $version; the user's settings and log untouched" "$(msiexec_qn /i "$msi") $(registered) $(user_data)" \
  "0 absent REG_SZ|$version 1 $user_before"

# The files: exactly the package's, which are the program, the library and our string files.
msiextract -C "$work" "$msi" >/dev/null
check "installed files equal the package's" "$(diff -r "$work/Orvane/DERVO" "$dir" 2>&1)" ""
check "installed files" "$(ls "$dir" | xargs) $(diff -r -x '*.md' "$data" "$dir/Data" 2>&1)" "Data plainrunctl.exe tracelib.dll "
# The shortcuts' names in the user's language: the Shortcut table points at string resources
# of the program in every language that a string file is shipped for, and at the package's
# own English names in the language-neutral table that Windows falls back to.
program_strings() { wrestool -x --raw -t 6 -n $(($2 / 16 + 1)) -L "$1" "$dir/plainrunctl.exe" | python3 -c '
import sys; block, texts = sys.stdin.buffer.read(), []
while block: size = int.from_bytes(block[:2], "little"); texts.append(block[2:2 + 2 * size].decode("utf-16-le")); block = block[2 + 2 * size:]
print(*(texts[int(i) % 16] if len(texts) == 16 else "" for i in sys.argv[1:]), sep="|")' "${@:2}"; }
while IFS='|' read -r name description dll name_id dll2 description_id; do
  missing=$(for f in "$data"/modulestrings*.xml; do lcid=${f##*_} && [[ $f == *_* ]] || lcid=1033.xml
    program_strings "${lcid%.xml}" "$name_id" "$description_id" | grep -q -v -E '^\||\|$' || echo "${lcid%.xml}"; done)
  check "$name: resources in English and in every shipped language" \
    "$dll $dll2 $(program_strings 0 "$name_id" "$description_id") $missing" "[#plainrunctl.exe] [#plainrunctl.exe] $name|$description "
done < <(msiinfo export "$msi" Shortcut | tr -d '\r' | awk -F'\t' 'NR > 3 {print $3 "|" $7 "|" $13 "|" $14 "|" $15 "|" $16}')

# The program finds its folder through "Path", in the 64-bit registry view only.
check "Path, 64-bit only" "$(reg_value "$key" Path) $(reg_value "${key/SOFTWARE/SOFTWARE\\Wow6432Node}" Path)" "REG_SZ|$win absent"

# Programs and Features: the guide, the folder, and the icon, which Windows Installer keeps a
# copy of; the program carries the same icon for its shortcuts.
icon=$(wine reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | tr -d '\r' | awk -F'    ' '$2 == "ProductIcon" {print $4}')
wrestool -x -t 14 "$dir/plainrunctl.exe" >"$work/exe.ico"
check "help link, install location, product icon, program icon" \
  "$(reg_value "$uninstall\\$code" HelpLink) $(reg_value "$uninstall\\$code" InstallLocation) $(cmp "$(wine winepath -u "$icon" 2>/dev/null)" \
  "$data/../app/plainrunctl.ico" && icotool -l "$work/exe.ico")" \
  "REG_SZ|$(prop "$msi" ARPHELPLINK) REG_SZ|$win $(icotool -l "$data/../app/plainrunctl.ico")"

# The shortcuts: where they point, and what their command does to the flag. The command is
# run as the package declares it: "wine start" on a link does not reliably wait for the program.
menu=$(shortcut_dirs)
check "one Start-menu folder, the shortcuts" "$(cd "${menu:-none}" && ls | xargs -d '\n')" "Disable Outlook Connector.lnk Enable Outlook Connector.lnk"
rm -f "$(log_file)"
for row in 'Disable Outlook Connector|/plainrun|0|1' 'Enable Outlook Connector||1|0'; do
  IFS='|' read -r name args before after <<<"$row"
  command=$(msiinfo export "$msi" Shortcut | tr -d '\r' | awk -F'\t' -v n="$name" '$3 == n {print $5 "|" $6}')
  command=${command/\[INSTALLDIR\]/"$win"}
  set_flag "$before"
  # shellcheck disable=SC2086 # the shortcut's arguments split as a command line would
  rc=$(timeout 60 wine "${command%%|*}" ${command#*|} >/dev/null 2>&1; echo $?)
  check "$name: command, exit code, flag $before -> $after" "$command $rc $(flag)" "${win}plainrunctl.exe|$args 0 $after"
done
# Both runs logged through the installed tracelib.dll.
check "program and switches in the log" "$(grep -o $'Argument: C:[^\r]*' "$(log_file)" | sort -u) $(grep -c 'disable flag to' "$(log_file)")" \
  "Argument: ${win}plainrunctl.exe 2"

# A rebuild of the same version is another package of the same product: it finds the
# product installed instead of adding a second entry (Wine runs it as maintenance and
# answers 0; Windows answers 1638, "another version of this product is already installed").
check "rebuilt $version: same ProductCode, own PackageCode" \
  "$(prop "$rebuilt" ProductCode) $([ "$(package_code "$rebuilt")" != "$(package_code "$msi")" ] && echo own)" "$code own"
check "rebuilt $version over $version: still one entry" "$(msiexec_qn /i "$rebuilt") $(registered)" "0 absent REG_SZ|$version 1"

# An older package refuses to go over the current one and changes nothing. (Under Wine this
# needs the maintenance run above: Wine forgets the newer product's upgrade code when an
# upgrade removes the older product, and a maintenance run registers it again.)
check "downgrade refused" "$(msiexec_qn /i "$older_msi") $(registered) $(reg_value "$key" Path)" "67 absent REG_SZ|$version 1 REG_SZ|$win"

# Uninstall: the package's files, shortcuts and "Path" go; the user's flag and log stay.
mkdir -p "$scratch" && cp "$dir/plainrunctl.exe" "$scratch/"
user_before=$(user_data) log_sum=$(md5sum "$(log_file)")
check "uninstall by the rebuilt package; the user's settings and log kept" "$(msiexec_qn /x "$rebuilt") $(registered) $(user_data)" \
  "0 absent absent 0 $user_before"
check "folder, Path and shortcuts removed" "$(ls -d "$dir" 2>/dev/null) $(reg_value "$key" Path) $(shortcut_dirs)" " absent "
check "other products' files kept, an empty company folder removed" "$(company)" "${company_before:-gone}"
# Without "Path" a copy of the program still switches, exits 0 and loads no library.
check "copy after uninstall: exit code, flag, nothing logged" \
  "$(timeout 60 wine 'C:\msi-test\plainrunctl.exe' /plainrun >/dev/null 2>&1; echo $?) $(flag) $(md5sum "$(log_file)")" "0 1 $log_sum"

# SHORTCUTS=0: everything but the shortcuts. A repair puts back a lost library, string file
# and "Path", and keeps the shortcuts out without being told again.
installed() { echo "$(shortcut_dirs) $(cd "$dir" && ls tracelib.dll Data/modulestrings.xml | xargs) $(reg_value "$key" Path)"; }
check "SHORTCUTS=0 install" "$(msiexec_qn /i "$msi" SHORTCUTS=0) $(installed)" "0  Data/modulestrings.xml tracelib.dll REG_SZ|$win"
rm "$dir/tracelib.dll" "$dir/Data/modulestrings.xml" && wine reg delete "$key" /v Path /f >/dev/null 2>&1
check "repair" "$(msiexec_qn /i "$msi" REINSTALL=ALL REINSTALLMODE=amus) $(installed)" "0  Data/modulestrings.xml tracelib.dll REG_SZ|$win"
check "uninstall after SHORTCUTS=0" "$(msiexec_qn /x "$msi") $(registered)" "0 absent absent 0"
finish
