#!/usr/bin/env bash
# Sets up and runs every test: native (sanitizers), Windows x86_64 under wine64 in Xvfb,
# the static checks of the i686 release (dist/, rebuilt here: installer and zip), and the
# i686 flavour's tests with the release itself in 32-bit Wine under qemu (scripts/i686/).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" || exit 1
for flavour in native win64 win32; do
  echo "== build $flavour"
  "$root/scripts/build.sh" "$flavour" || { echo "build $flavour failed"; exit 1; }
done
echo "== release"
"$root/scripts/dist.sh" --no-setup --built >/dev/null || { echo "release build failed"; exit 1; }

status=0
summary=()
run_ctest() {  # label, build dir, [wrapper...]
  local label="$1" dir="$2"; shift 2
  echo "== tests: $label"
  local log="$root/build/ctest-$label.log"
  ( cd "$dir" && "$@" ctest --output-on-failure --timeout 600 ) 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  summary+=("$label: $(grep -E 'tests passed' "$log" | tail -n 1)")
}

run_ctest native "$root/build/native"

export WINEPREFIX="$root/build/wine-prefix"
session="$root/build/wine-session.sh"
cat > "$session" <<EOS
#!/usr/bin/env bash
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 1
# One persistent wineserver for the whole run: starting one per test costs seconds each.
wineserver -p
# Start Wine's own services now, detached from ctest's output pipes: started by the
# first test instead, they would inherit its stdout and ctest would wait on them.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1
cd "$root/build/win64" && ctest --output-on-failure --timeout 600
rc=\$?
wineserver -k 2>/dev/null
exit \$rc
EOS
chmod +x "$session"
echo "== tests: wine"
xvfb-run -a -s "-screen 0 1280x1024x24" "$session" 2>&1 | tee "$root/build/ctest-wine.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
summary+=("wine: $(grep -E 'tests passed' "$root/build/ctest-wine.log" | tail -n 1)")

# The i686 flavour's tests and the run of dist/ itself, in one session of the 32-bit
# Wine (one wineserver), on a fresh copy of the prefix the set-up made.
source "$root/scripts/i686/paths.sh"
i686_session="$root/build/i686-session.sh"
cat > "$i686_session" <<EOS
#!/usr/bin/env bash
rm -rf "$root/build/i686-prefix"
cp -a --reflink=auto "$i686_prefix" "$root/build/i686-prefix" || exit 1
wineserver -p
wine cmd.exe /c exit </dev/null >/dev/null 2>&1
cd "$root/build/win32" && ctest --output-on-failure --timeout 900
rc=\$?
wineserver -k 2>/dev/null
exit \$rc
EOS
chmod +x "$i686_session"
echo "== tests: i686"
WINEPREFIX="$root/build/i686-prefix" xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$root/scripts/i686/run.sh" "$i686_session" 2>&1 | tee "$root/build/ctest-i686.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
summary+=("i686: $(grep -E 'tests passed' "$root/build/ctest-i686.log" | tail -n 1)")

echo "== summary"
printf '%s\n' "${summary[@]}"
passed=0; failed=0
for log in "$root/build/ctest-native.log" "$root/build/ctest-wine.log" "$root/build/ctest-i686.log"; do
  line=$(grep -E 'tests failed out of' "$log" | tail -n 1)
  f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
  t=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
  [ -n "$line" ] || { f=1; t=1; status=1; }
  passed=$((passed + t - f)); failed=$((failed + f))
done
echo "$passed passed, $failed failed"
exit $status
