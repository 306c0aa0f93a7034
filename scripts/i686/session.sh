#!/usr/bin/env bash
# First process of a run.sh session, inside the new namespaces: gives the i386 root what
# Wine needs (its own /proc, /sys, a private /tmp and /dev/shm, the X socket) and the
# host folders to share, each at its own path, then runs the command.
#   session.sh DIR... -- COMMAND [ARGS...]
set -euo pipefail
root="$PARLEYM_I686_ROOT"
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
# Wine's server socket lives under /tmp: a private one keeps it apart from the host's wine64.
mount -t tmpfs tmpfs "$root/tmp"
mount -t tmpfs tmpfs "$root/dev/shm"
share() {  # host path: the same path inside the root
  if [ -d "$1" ]; then
    mkdir -p "$root$1"
  else
    mkdir -p "$root$(dirname "$1")"
    touch "$root$1"
  fi
  mount --bind "$1" "$root$1"
}
[ -d /tmp/.X11-unix ] && share /tmp/.X11-unix
[ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ] && share "$XAUTHORITY"
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  mkdir -p "$1"
  share "$1"
  shift
done
shift
exec "$@"
