#!/usr/bin/env bash
# Runs a host command in a session of the i686 equipment (made by setup.sh): a private
# namespace where i386 programs run under qemu and the i386 root's Wine is at hand.
#   run.sh [--bind DIR]... COMMAND [ARGS...]
# Inside, `wine`, `wineserver` and `wineboot` on PATH (and $PARLEYM_WINE) are the root's
# 32-bit ones; they see the repository, $WINEPREFIX's folder and every --bind DIR at the
# same paths as the host. One session, one wineserver: run a whole set of programs in
# one. The X server (Xvfb) stays outside: run this under xvfb-run.
set -euo pipefail
source "$(dirname "$0")/paths.sh"
binds=("$i686_repo")
while [ $# -gt 0 ] && [ "$1" = "--bind" ]; do binds+=("$(realpath -m "$2")"); shift 2; done
[ $# -gt 0 ] || { echo "usage: run.sh [--bind DIR]... COMMAND [ARGS...]" >&2; exit 2; }
[ -n "${WINEPREFIX:-}" ] && binds+=("$(dirname "$(realpath -m "$WINEPREFIX")")")
if [ ! -f "$i686_root/.parleym-complete" ] || [ ! -x "$i686_ns" ] || [ ! -x "$i686_qemu" ]; then
  echo "run.sh: the i686 equipment is not set up: run scripts/setup.sh" >&2
  exit 125
fi
export PARLEYM_I686_ROOT="$i686_root" PARLEYM_I686_NS="$i686_ns" PARLEYM_I686_SHIM="$i686_shim"
export PARLEYM_WINE="$i686_here/bin/wine" PATH="$i686_here/bin:$PATH"
exec "$i686_ns" session "$i686_qemu" "$i686_here/session.sh" "${binds[@]}" -- "$@"
