#!/usr/bin/env bash
# Builds the win64 flavour and runs every benchmark program (bench/) under Wine
# in a throwaway prefix, printing its figures. Usage: bench.sh
# Set WINEPREFIX to reuse an existing prefix made by scripts/wine-prefix.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh" win64 >/dev/null
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$root/build/bench-prefix"
  own_prefix=1
fi
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
xvfb-run -a "$session"
