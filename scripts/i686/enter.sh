#!/usr/bin/env bash
# Runs a program of the i386 root from inside a run.sh session, in the current folder,
# with a clean environment: what Wine needs from ours, the signal shim preloaded.
#   enter.sh PROGRAM [ARGS...]
if [ -z "${PARLEYM_I686_ROOT:-}" ]; then
  echo "$(basename "$0"): only inside a session of scripts/i686/run.sh" >&2
  exit 125
fi
vars=(HOME=/root PATH=/usr/lib/wine:/usr/bin:/bin LANG=C.UTF-8 WINEARCH=win32 WINEDEBUG=-all
      PARLEYM_PRELOAD="$PARLEYM_I686_SHIM")
for name in DISPLAY XAUTHORITY WINEPREFIX WINEDEBUG WINEDLLOVERRIDES; do
  [ -n "${!name+x}" ] && vars+=("$name=${!name}")
done
exec env -i "${vars[@]}" "$PARLEYM_I686_NS" enter "$PARLEYM_I686_ROOT" "$PWD" "$@"
