#!/usr/bin/env bash
# Configures and builds one flavour: native | win64 | win32. Usage: build.sh FLAVOUR
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
flavour="$1"
case "$flavour" in
  native) args=() ;;
  win64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake") ;;
  win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake") ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
build="$root/build/$flavour"
# A compiler cache, where the machine has one, makes rebuilds in several work trees cheap.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}"
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${args[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" -- --no-print-directory
