#!/usr/bin/env bash
# The main job: builds the i686 release and fills dist/ with what a Windows user gets:
# the three deliverables with a fresh users.dat and README.txt, the installer
# (Parleym-<version>-setup.exe) and the same files as a zip (Parleym-<version>.zip).
# Usage: dist.sh [--no-setup]   (--no-setup: the packages and Crypto++ are known to be there)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
[ "${1:-}" = "--no-setup" ] || "$root/scripts/setup.sh"
"$root/scripts/build.sh" win32 ParleymLdr ParleymHk ParleymPlugin
# users.dat is written by the portable tool, built on its own (no test flavour needed).
"$root/scripts/build.sh" tools users-dat

version=$(sed -nE 's/^#define PARLEYM_VERSION_(MAJOR|MINOR|PATCH) ([0-9]+).*/\2/p' "$root/shared/Version.h" | paste -sd.)
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version in shared/Version.h" >&2; exit 1; }
dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist"
cp "$root/build/win32/loader/ParleymLdr.exe" "$root/build/win32/hook/ParleymHk.dll" \
   "$root/build/win32/plugin/ParleymPlugin.dll" "$dist/"
i686-w64-mingw32-strip "$dist"/*.exe "$dist"/*.dll
"$root/build/tools/tools/users-dat" create "$dist/users.dat"
"$root/build/tools/tools/users-dat" dump "$dist/users.dat" >/dev/null
sed 's/$/\r/' "$root/installer/README.txt" > "$dist/README.txt"

makensis -V2 -WX -DSRCDIR="$root" -DFILES="$dist" -DOUTFILE="$dist/Parleym-$version-setup.exe" \
  "$root/installer/Parleym.nsi"
( cd "$dist" && python3 - "Parleym-$version.zip" <<'PY'
import sys, zipfile
names = ["ParleymLdr.exe", "ParleymHk.dll", "ParleymPlugin.dll", "users.dat", "README.txt"]
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for name in names:
        z.write(name)
PY
)
echo "dist/ ready (Parleym $version):"; ls -l "$dist"
