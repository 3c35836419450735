#!/usr/bin/env bash
# The release an administrator downloads: made with a throw-away code-signing certificate,
# the package and the program and library inside it verify against that CA and fail with one
# byte changed, signing again at the same time gives the same bytes, SHA256SUMS holds, the
# templates are well-formed, a signing that fails leaves the last release whole, and the
# signed package installs, upgrades and uninstalls (which runs the signed program's switch;
# the unsigned package of this build is its rebuild). Without a certificate: an unsigned
# release, said once.
# Arguments: cmake release-settings.cmake MakeRelease.cmake older.msi data-dir current.msi
cmake=$1 settings=$2 script=$3 older_msi=$(realpath "$4") data=$5 current_msi=$(realpath "$6")
source "$(dirname "$0")/lib.sh"
cd "$work" || exit 1

# A CA and a leaf with the code-signing extended key usage; the leaf and its key in PKCS#12.
openssl req -x509 -newkey rsa:2048 -nodes -subj '/CN=Throwaway CA' -days 2 -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj '/CN=Orvane' -keyout leaf.key -out leaf.csr 2>/dev/null
openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 2 -out leaf.pem 2>/dev/null \
  -extfile <(printf 'extendedKeyUsage=codeSigning\nkeyUsage=critical,digitalSignature\n')
openssl pkcs12 -export -inkey leaf.key -in leaf.pem -passout 'pass:two words' -out sign.pfx

# release NAME ENV...: makes the release NAME/ as the release target does, with the
# environment changed as `env` would; its messages go to NAME.log, its files unpacked from
# the package to NAME.x/. Prints the exit code.
release() {
  env -u PLAINRUN_SIGN_TIMESTAMP_URL "${@:2}" "$cmake" -D SETTINGS="$settings" -D RELEASE_DIR="$work/$1" -P "$script" >"$1.log" 2>&1
  echo $? && msiextract -C "$1.x" "$1"/*.msi >/dev/null 2>&1; }
verify() { osslsigncode verify -CAfile ca.pem -in "$1" >/dev/null 2>&1 && echo verified || echo refused; }
signing=(PLAINRUN_SIGN_PFX="$work/sign.pfx" "PLAINRUN_SIGN_PASSWORD=two words" SOURCE_DATE_EPOCH=1700000000)
check "signed, signed again, without a certificate" \
  "$(release signed "${signing[@]}") $(release again "${signing[@]}") $(release unsigned -u PLAINRUN_SIGN_PFX)" "0 0 0"
check "signing time from SOURCE_DATE_EPOCH; one line says a release is unsigned" "$(osslsigncode verify -in signed/*.msi 2>&1 |
  grep -c 'Signing time: Nov 14 22:13:20 2023') $(grep -c UNSIGNED unsigned.log) $(wc -l <unsigned.log)" "1 1 1"
msi=$(ls "$work"/signed/*.msi)
check "release files: the package, the templates in every shipped language, SHA256SUMS" \
  "$(cd signed && find . -type f | LC_ALL=C sort) $(ls "$data"/modulestrings*.xml | wc -l)" \
  "$(printf './%s\n' PolicyDefinitions/DERVO.admx $(cd "$data/../policy" && ls */DERVO.adml | sed 's|^|PolicyDefinitions/|') SHA256SUMS \
  "${msi##*/}" | LC_ALL=C sort) $(ls signed/PolicyDefinitions/*/DERVO.adml | wc -l)"
check "SHA256SUMS holds and lists every other file" "$(cd signed && sha256sum -c --quiet SHA256SUMS 2>&1; cut -c67- SHA256SUMS)" \
  "$(cd signed && find . -type f ! -name SHA256SUMS | cut -c3- | LC_ALL=C sort)"
for f in "$msi" signed.x/Orvane/DERVO/plainrunctl.exe signed.x/Orvane/DERVO/tracelib.dll; do
  python3 -c "import sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[len(d) // 2] ^= 1; open('flipped', 'wb').write(d)" "$f"
  check "${f##*/} verifies, and not with one byte flipped" "$(verify "$f") $(verify flipped)" "verified refused"
done
check "release without a certificate refused" \
  "$(for f in unsigned/*.msi unsigned.x/Orvane/DERVO/{plainrunctl.exe,tracelib.dll}; do verify "$f"; done)" $'refused\nrefused\nrefused'
check "files signed twice at one time are byte-identical" "$(diff -r signed.x again.x 2>&1)" ""
before=$(cd again && find . -type f | LC_ALL=C sort | xargs sha256sum)
check "a wrong password fails the release and leaves the last one whole" \
  "$(release again "${signing[@]}" PLAINRUN_SIGN_PASSWORD=wrong) $(cd again && find . -type f | LC_ALL=C sort | xargs sha256sum)" \
  "1 $before"
# Each language's .adml parses and defines every string and presentation that the .admx
# uses, and its presentations refer only to the .admx's elements.
check "templates well-formed and complete" "$(python3 -c '
import re, sys, xml.dom.minidom as m
admx = open(sys.argv[1], encoding="utf-8").read(); m.parseString(admx.encode())
need = set(re.findall(r"\$\((string|presentation)\.(\w+)\)", admx))
elements = set(re.findall(r"<(?:text|decimal|enum|list|boolean|multiText) id=\"(\w+)\"", admx))
for f in sys.argv[2:]:
    d = m.parse(f); ids = lambda tag: {e.getAttribute("id") for e in d.getElementsByTagName(tag)}
    have = {("string", i) for i in ids("string")} | {("presentation", i) for i in ids("presentation")}
    refs = {e.getAttribute("refId") for e in d.getElementsByTagName("*") if e.hasAttribute("refId")}
    if need - have or refs - elements: print(f, sorted(need - have), sorted(refs - elements))
' signed/PolicyDefinitions/DERVO.admx signed/PolicyDefinitions/*/DERVO.adml 2>&1)" ""

bash "$e2e_dir/msi_test.sh" "$msi" "$older_msi" "$data" "$current_msi"
check "signed package installs, upgrades and uninstalls" "$?" 0
finish
