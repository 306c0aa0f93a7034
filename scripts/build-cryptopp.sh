#!/usr/bin/env bash
# Builds static Crypto++ for both mingw targets from Debian's source package.
# Results are cached under $PARLEYM_CACHE so later runs (and clean clones) skip the build.
set -euo pipefail
cache="${PARLEYM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/parleym}"
mkdir -p "$cache"

fetch_source() {
  local src="$cache/cryptopp-src"
  [ -f "$src/.complete" ] && return 0
  if ! grep -rqs -e '^Types:.*deb-src' -e '^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        > /etc/apt/sources.list.d/parleym-deb-src.sources
    else
      sed -n -e 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/parleym-deb-src.list
    fi
    apt-get update -qq
  fi
  rm -rf "$src" "$cache/fetch"
  mkdir -p "$cache/fetch"
  (cd "$cache/fetch" && apt-get source -qq libcrypto++ >/dev/null)
  local dir
  dir=$(find "$cache/fetch" -mindepth 1 -maxdepth 1 -type d -name 'libcrypto++*' | head -n 1)
  mv "$dir" "$src"
  rm -rf "$cache/fetch"
  touch "$src/.complete"
}

build_arch() {
  local arch="$1" out="$cache/cryptopp-$1"
  [ -f "$out/lib/libcryptopp.a" ] && return 0
  rm -rf "$out.work"
  cp -a "$cache/cryptopp-src" "$out.work"
  (cd "$out.work" && make -s -f GNUmakefile-cross static -j"$(nproc)" \
      CXX="$arch-w64-mingw32-g++-posix" AR="$arch-w64-mingw32-ar" RANLIB="$arch-w64-mingw32-ranlib" \
      CXXFLAGS="-DNDEBUG -O2 -DCRYPTOPP_DISABLE_ASM -Wno-deprecated-declarations" >/dev/null 2>&1)
  rm -rf "$out"
  mkdir -p "$out/lib" "$out/include/cryptopp"
  cp "$out.work/libcryptopp.a" "$out/lib/"
  cp "$out.work"/*.h "$out/include/cryptopp/"
  rm -rf "$out.work"
}

fetch_source
build_arch i686
build_arch x86_64
echo "Crypto++ ready in $cache"
