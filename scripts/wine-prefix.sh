#!/usr/bin/env bash
# Makes a throwaway Wine prefix for the tests: XP, unmanaged windows (no 2 s wait per close).
# Run inside the Xvfb session the tests use, so the wineserver starts there.
set -euo pipefail
prefix="$1"
rm -rf "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp /f >/dev/null 2>&1
# Japanese text legible on screenshots: the fonts Wine falls back to for it are Windows' own,
# absent here; IPA Gothic (scripts/setup.sh) stands in.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d IPAPGothic /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Gothic' /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
wineserver -w
