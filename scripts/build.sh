#!/usr/bin/env bash
# Configures and builds one flavour: native | win64 | win32 | tools.
# Usage: build.sh FLAVOUR [TARGET...]   (no targets: everything of the flavour)
# tools: the Linux build tools the release needs (users-dat), without tests or sanitizers.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
flavour="$1"; shift
case "$flavour" in
  native) args=() ;;
  win64) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake") ;;
  win32) args=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake") ;;
  tools) args=(-DPARLEYM_BUILD_TESTS=OFF -DPARLEYM_SANITIZE=OFF) ;;
  *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
build="$root/build/$flavour"
# A compiler cache, where the machine has one, makes rebuilds in several work trees cheap.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$root")}"
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "${args[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}" -- --no-print-directory
