#!/usr/bin/env bash
# Builds the win64 flavour and runs every benchmark program (bench/) under Wine
# in a throwaway prefix, printing its figures; then the native ones (built in
# the tools flavour, without sanitizers). Usage: bench.sh [name...]
# (names such as "hook" or "viewer" run only bench_<name>.exe).
# Set WINEPREFIX to reuse an existing prefix made by scripts/wine-prefix.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" win64 >/dev/null
# The hook library as the release ships it (i686, stripped), for its size.
"$root/scripts/build.sh" win32 ParleymHk >/dev/null
mkdir -p "$root/build/bench-release"
i686-w64-mingw32-strip -o "$root/build/bench-release/ParleymHk.dll" "$root/build/win32/hook/ParleymHk.dll"
"$root/scripts/build.sh" tools >/dev/null
# The large logs file of the search benchmarks, made once (a few seconds).
logs="$root/build/bench-logs/logs-10000.dat"
if [ ! -s "$logs" ] && [ -x "$root/build/tools/bench/make-bench-logs" ]; then
  mkdir -p "$(dirname "$logs")"
  "$root/build/tools/bench/make-bench-logs" "$logs.part" 10000 8400 && mv "$logs.part" "$logs"
fi
# The heavy data files of the start, object cache, viewer and memory figures,
# made natively once (seconds; under Wine it takes many minutes) and kept.
files="$root/build/bench-files"
mkdir -p "$files"
"$root/build/tools/bench/make-bench-files" "$files"
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$root/build/bench-prefix"
  own_prefix=1
fi
programs=""
for name in "$@"; do programs+=" $root/build/win64/bench/bench_$name.exe"; done
[ -n "$programs" ] || programs="$root/build/win64/bench/bench_*.exe"
# Wine's Z: drive is the Unix root.
[ -s "$logs" ] && export PARLEYM_BENCH_LOGS="Z:${logs//\//\\}"
export PARLEYM_BENCH_FILES="Z:${files//\//\\}"
session="$root/build/bench-session.sh"
cat > "$session" <<EOS
#!/usr/bin/env bash
[ -n "${own_prefix:-}" ] && [ ! -d "$WINEPREFIX/drive_c" ] && "$root/scripts/wine-prefix.sh" "$WINEPREFIX"
status=0
for program in $programs; do
  echo "== \$(basename "\$program" .exe)"
  "$root/scripts/wine-run.sh" "\$program" || status=1
done
wineserver -k 2>/dev/null
exit \$status
EOS
chmod +x "$session"
status=0
xvfb-run -a "$session" || status=1
for program in "$root"/build/tools/bench/bench_*; do
  [ -x "$program" ] || continue
  base="$(basename "$program")"
  if [ $# -gt 0 ] && [[ " $* " != *" ${base#bench_} "* ]]; then continue; fi
  echo "== $(basename "$program")"
  if [ -s "$logs" ]; then PARLEYM_BENCH_LOGS="$logs" "$program" || status=1; else "$program" || status=1; fi
done
exit $status
