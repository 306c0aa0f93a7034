#!/usr/bin/env bash
# Builds the win64 flavour and runs every benchmark program (bench/) under Wine
# in a throwaway prefix, printing its figures; then the native ones (built in
# the tools flavour, without sanitizers). Usage: bench.sh
# Set WINEPREFIX to reuse an existing prefix made by scripts/wine-prefix.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" win64 >/dev/null
"$root/scripts/build.sh" tools >/dev/null
# The large logs file of the search benchmarks, made once (a few seconds).
logs="$root/build/bench-logs/logs-10000.dat"
if [ ! -s "$logs" ] && [ -x "$root/build/tools/bench/make-bench-logs" ]; then
  mkdir -p "$(dirname "$logs")"
  "$root/build/tools/bench/make-bench-logs" "$logs.part" 10000 8400 && mv "$logs.part" "$logs"
fi
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$root/build/bench-prefix"
  own_prefix=1
fi
# Wine's Z: drive is the Unix root.
[ -s "$logs" ] && export PARLEYM_BENCH_LOGS="Z:${logs//\//\\}"
session="$root/build/bench-session.sh"
cat > "$session" <<EOS
#!/usr/bin/env bash
[ -n "${own_prefix:-}" ] && [ ! -d "$WINEPREFIX/drive_c" ] && "$root/scripts/wine-prefix.sh" "$WINEPREFIX"
status=0
for program in "$root"/build/win64/bench/bench_*.exe; do
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
  echo "== $(basename "$program")"
  if [ -s "$logs" ]; then PARLEYM_BENCH_LOGS="$logs" "$program" || status=1; else "$program" || status=1; fi
done
exit $status
