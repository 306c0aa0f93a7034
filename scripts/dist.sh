#!/usr/bin/env bash
# The main job: builds the i686 release and fills dist/ with what a user copies beside the messenger.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh" native
"$root/scripts/build.sh" win32
rm -rf "$root/dist"
mkdir -p "$root/dist"
cp "$root/build/win32/loader/ParleymLdr.exe" "$root/build/win32/hook/ParleymHk.dll" \
   "$root/build/win32/plugin/ParleymPlugin.dll" "$root/dist/"
i686-w64-mingw32-strip "$root"/dist/*.exe "$root"/dist/*.dll
"$root/build/native/tools/users-dat" create "$root/dist/users.dat"
"$root/build/native/tools/users-dat" dump "$root/dist/users.dat" >/dev/null
echo "dist/ ready:"; ls -l "$root/dist"
