#!/usr/bin/env bash
# users.dat written by the native build is read by the Windows build and the other way round.
set -euo pipefail
native="$1"; windows="$2"
wine_run="$(dirname "$0")/../../scripts/wine-run.sh"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
args=(me@x.com d41d8cd98f00b204e9800998ecf8427e "" Me@x.com 900150983cd24fb0d6963f7d28e17f72 'C:\logs\mine.dat')
expected=$'count 2\nme@x.com|d41d8cd98f00b204e9800998ecf8427e|\nMe@x.com|900150983cd24fb0d6963f7d28e17f72|C:\\logs\\mine.dat'

"$native" write "$work/from-linux.dat" "${args[@]}"
got=$("$wine_run" "$windows" dump "$(winepath -w "$work/from-linux.dat" 2>/dev/null)" | tr -d '\r')
[ "$got" = "$expected" ] || { echo "Windows read of native file:"; echo "$got"; exit 1; }

"$wine_run" "$windows" write "$(winepath -w "$work/from-windows.dat" 2>/dev/null)" "${args[@]}"
got=$("$native" dump "$work/from-windows.dat")
[ "$got" = "$expected" ] || { echo "native read of Windows file:"; echo "$got"; exit 1; }

"$wine_run" "$windows" create "$(winepath -w "$work/empty.dat" 2>/dev/null)"
[ "$("$native" dump "$work/empty.dat")" = "count 0" ]
echo "cross-check passed"
