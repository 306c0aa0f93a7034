#!/usr/bin/env bash
# The guided tour: builds the release (dist/), then runs every built feature with the real
# loader, hook library and plug-in (x86_64 build) in the stand-in messenger under Xvfb,
# and writes build/demo/index.html. Exits non-zero when a step's checks fail.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
echo "== release (dist/)"
"$root/scripts/dist.sh" --no-setup | tail -n 8
echo "== x86_64 build for the tour"
# Only what the tour runs: the deliverables, the stand-in, the users.dat tool, the viewer pilot.
"$root/scripts/build.sh" win64 ParleymLdr ParleymHk ParleymPlugin users-dat \
  standin_msmsgs standin_msnmsgr logviewer_pilot >/dev/null
echo "== tour"
export WINEDEBUG=-all
xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 "$root/demo/tour.py" "$@"
