#!/usr/bin/env bash
# Runs one Windows program under wine64 in the test prefix (see scripts/test.sh).
export WINEDEBUG="${WINEDEBUG:--all}"
exec /usr/bin/wine "$@"
