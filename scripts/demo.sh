#!/usr/bin/env bash
# The guided tour: builds the release (dist/), then runs every built feature with the real
# loader, hook library and plug-in in the stand-in messenger under Xvfb, and writes
# build/demo/index.html. Exits non-zero when a step's checks fail.
#   demo.sh [feature...]          the x86_64 build under wine64
#   demo.sh --i686 [feature...]   the i686 release exactly as dist/ holds it, in 32-bit Wine
#                                 (scripts/i686/), with the 32-bit stand-in: build/demo-i686/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
i686=""
if [ "${1:-}" = "--i686" ]; then i686=1; shift; fi
"$root/scripts/setup.sh"
echo "== release (dist/)"
"$root/scripts/dist.sh" --no-setup | tail -n 8
export WINEDEBUG=-all
if [ -n "$i686" ]; then
  echo "== i686 test equipment for the tour"
  # The stand-in, the users.dat tool and the viewer pilot; the deliverables come from dist/.
  "$root/scripts/build.sh" win32 standin_msmsgs standin_msnmsgr logviewer_pilot users-dat >/dev/null
  source "$root/scripts/i686/paths.sh"
  prefix="$root/build/demo-i686-prefix"
  rm -rf "$prefix"
  cp -a --reflink=auto "$i686_prefix" "$prefix"
  echo "== tour (i686 release, 32-bit Wine)"
  WINEPREFIX="$prefix" xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$root/scripts/i686/run.sh" /usr/bin/python3 "$root/demo/tour.py" --i686 --prefix "$prefix" "$@"
  exit
fi
echo "== x86_64 build for the tour"
# Only what the tour runs: the deliverables, the stand-in, the users.dat tool, the viewer pilot.
"$root/scripts/build.sh" win64 ParleymLdr ParleymHk ParleymPlugin users-dat \
  standin_msmsgs standin_msnmsgr logviewer_pilot >/dev/null
echo "== tour"
xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 "$root/demo/tour.py" "$@"
