#!/usr/bin/env bash
# Installs what building and testing need; safe to run again (skips what is there).
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64
  mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xauth googletest libcrypto++-dev python3 python3-olefile dpkg-dev
  imagemagick x11-apps nsis libgsf-1-dev pkg-config debootstrap)
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
"$(dirname "$0")/build-cryptopp.sh"
# 32-bit Wine under qemu, for running the i686 release (scripts/i686/).
"$(dirname "$0")/i686/setup.sh"
