#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; quick when present.
set -eu
packages=(cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev libxml2-dev
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool x11-utils imagemagick icoutils python3
  wixl msitools gir1.2-libmsi-1.0 python3-gi osslsigncode openssl valgrind clang-14 libclang-rt-14-dev
  clang-format-14 hyperfine gcovr)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
