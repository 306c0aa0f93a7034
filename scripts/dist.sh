#!/usr/bin/env bash
# The main job: builds the i686 release and fills dist/ with what a Windows user gets:
# the three deliverables with a fresh users.dat and README.txt, the installer
# (Parleym-<version>-setup.exe) and the same files as a zip (Parleym-<version>.zip).
# Usage: dist.sh [--no-setup] [--built]
#   --no-setup: the packages and Crypto++ are known to be there
#   --built: the caller has just built the whole win32 and native flavours (scripts/test.sh),
#            so nothing is built again and users.dat comes from the native build's tool
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
setup=1; built=""
for option in "$@"; do
  case "$option" in
    --no-setup) setup="" ;;
    --built) built=1 ;;
    *) echo "unknown option $option" >&2; exit 2 ;;
  esac
done
[ -z "$setup" ] || "$root/scripts/setup.sh"
if [ -n "$built" ]; then
  users_dat="$root/build/native/tools/users-dat"
else
  "$root/scripts/build.sh" win32 ParleymLdr ParleymHk ParleymPlugin
  # users.dat is written by the portable tool, built on its own (no test flavour needed).
  "$root/scripts/build.sh" tools users-dat
  users_dat="$root/build/tools/tools/users-dat"
fi

version=$(sed -nE 's/^#define PARLEYM_VERSION_(MAJOR|MINOR|PATCH) ([0-9]+).*/\2/p' "$root/shared/Version.h" | paste -sd.)
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version in shared/Version.h" >&2; exit 1; }
dist="$root/dist"
rm -rf "$dist"
mkdir -p "$dist"
cp "$root/build/win32/loader/ParleymLdr.exe" "$root/build/win32/hook/ParleymHk.dll" \
   "$root/build/win32/plugin/ParleymPlugin.dll" "$dist/"
i686-w64-mingw32-strip "$dist"/*.exe "$dist"/*.dll
"$users_dat" create "$dist/users.dat"
"$users_dat" dump "$dist/users.dat" >/dev/null
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
