#!/usr/bin/env bash
# Installs what building and testing need; safe to run again (skips what is there).
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64
  mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xauth googletest libcrypto++-dev python3 python3-olefile dpkg-dev
  imagemagick x11-apps nsis libgsf-1-dev pkg-config debootstrap locales fonts-ipafont-gothic)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Wine takes the system's ANSI code page from the locale (the code-page tests run the
# messenger in each); without the locale on the host it cannot name files beyond ASCII.
present=$(locale -a 2>/dev/null)
for name in pl_PL ru_RU en_US el_GR tr_TR he_IL ar_EG lt_LT vi_VN th_TH ja_JP zh_CN ko_KR zh_TW; do
  echo "$present" | grep -qix "$name.utf8" || localedef -i "$name" -f UTF-8 "$name.UTF-8"
done
"$(dirname "$0")/build-cryptopp.sh"
# 32-bit Wine under qemu, for running the i686 release (scripts/i686/).
"$(dirname "$0")/i686/setup.sh"
