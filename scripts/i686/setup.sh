#!/usr/bin/env bash
# Makes what running the i686 build needs, once, under ~/.cache/parleym/i686 (a second
# run costs seconds): an i386 Debian root holding wine32, qemu 10's static i386 user
# mode, the namespace launcher and the signal shim (built from ns.c and sigshim.c here),
# and a 32-bit Wine prefix. Changes nothing host-wide: no foreign dpkg architecture, no
# global binfmt entry, the host's apt sources and wine64 untouched. Needs real root.
# Called by scripts/setup.sh (after the host packages, debootstrap among them).
set -euo pipefail
source "$(dirname "$0")/paths.sh"
suite=bookworm  # the route measured: Wine 8 as on the host, qemu 10 from its backports
mkdir -p "$i686_cache/bin"

# The mirror the machine's own apt sources name for the suite.
mirror() {
  python3 - "$suite" <<'PY'
import glob, re, sys
suite = sys.argv[1]
for path in sorted(glob.glob("/etc/apt/sources.list.d/*.sources")):
    for stanza in re.split(r"\n\s*\n", open(path).read()):
        fields = dict(re.findall(r"^([A-Za-z-]+):\s*(.*)$", stanza, re.M))
        if "deb" in fields.get("Types", "").split() and suite in fields.get("Suites", "").split():
            print(fields["URIs"].split()[0]); sys.exit()
for path in ["/etc/apt/sources.list"] + sorted(glob.glob("/etc/apt/sources.list.d/*.list")):
    try:
        for line in open(path):
            m = re.match(r"\s*deb\s+(?:\[[^]]*\]\s+)?(\S+)\s+(\S+)", line)
            if m and m.group(2) == suite:
                print(m.group(1)); sys.exit()
    except OSError:
        pass
print("http://deb.debian.org/debian")
PY
}

# qemu-user from the suite's backports (static since 10; qemu-user-static holds only
# links there), through a private apt state: the host's sources, lists and status stay
# as they are. The suite's own qemu (7.2) spins for minutes in each Wine process.
fetch_qemu() {
  if [ -x "$i686_qemu" ]; then return 0; fi
  local work="$i686_cache/qemu.work" url
  url="$(mirror)"
  rm -rf "$work"
  mkdir -p "$work/lists/partial" "$work/archives/partial" "$work/deb"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $url $suite-backports main" > "$work/sources.list"
  local apt=(-o Dir::State="$work" -o Dir::State::Lists="$work/lists" -o Dir::State::status=/dev/null
             -o Dir::Cache="$work" -o Dir::Cache::archives="$work/archives"
             -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o Acquire::Languages=none -o APT::Sandbox::User=root)
  apt-get "${apt[@]}" -qq update
  (cd "$work/deb" && apt-get "${apt[@]}" -qq download "qemu-user/$suite-backports")
  dpkg-deb -x "$work"/deb/qemu-user_*.deb "$work/x"
  local version
  version="$("$work/x/usr/bin/qemu-i386" --version | sed -nE 's/.*version ([0-9]+)\..*/\1/p' | head -n 1)"
  if [ "${version:-0}" -lt 10 ]; then
    echo "i686: qemu from $suite-backports is version ${version:-unknown}; 10 or later is needed" >&2
    exit 1
  fi
  cp "$work/x/usr/bin/qemu-i386" "$i686_qemu.part"
  mv "$i686_qemu.part" "$i686_qemu"
  rm -rf "$work"
}

# Rebuilt whenever its source is newer (a second of compiling).
build_launcher() {
  if [ "$i686_ns" -nt "$i686_here/ns.c" ]; then return 0; fi
  gcc -O2 -Wall -Wextra -o "$i686_ns.part" "$i686_here/ns.c"
  mv "$i686_ns.part" "$i686_ns"
}

make_root() {
  if [ -f "$i686_root/.parleym-complete" ]; then return 0; fi
  local work="$i686_cache/root.work"
  rm -rf "$work"
  echo "i686: making the i386 Debian root with wine32 (about 5 minutes, once)"
  debootstrap --foreign --arch=i386 --variant=minbase --include=wine32,wine,libwine,fonts-wine \
    "$suite" "$work" "$(mirror)" >"$i686_cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$i686_cache/debootstrap.log" >&2; exit 1; }
  # The second stage runs the root's own programs, so inside the namespace. Its check
  # that device nodes can be made fails in a user namespace (mknod is refused there);
  # as for a container, it is skipped: the first stage made /dev as real root.
  "$i686_ns" session "$i686_qemu" env container=lxc chroot "$work" /debootstrap/debootstrap --second-stage \
    >>"$i686_cache/debootstrap.log" 2>&1 || { tail -n 20 "$i686_cache/debootstrap.log" >&2; exit 1; }
  rm -f "$work"/var/cache/apt/archives/*.deb
  touch "$work/.parleym-complete"
  rm -rf "$i686_root"
  mv "$work" "$i686_root"
}

# The shim links against the root's own libc; the host needs no 32-bit libraries.
build_shim() {
  local built="$i686_root$i686_shim"
  if [ "$built" -nt "$i686_here/sigshim.c" ]; then return 0; fi
  mkdir -p "$(dirname "$built")"
  gcc -m32 -O2 -Wall -Wextra -shared -fPIC -ffreestanding -fno-stack-protector -nostdlib \
    -o "$built.part" "$i686_here/sigshim.c" "$i686_root/usr/lib/i386-linux-gnu/libc.so.6"
  mv "$built.part" "$built"
}

make_prefix() {
  if [ -f "$i686_prefix/.parleym-complete" ]; then return 0; fi
  # Made in a folder of its own: the run binds the prefix's parent into the root.
  local staging="$i686_cache/staging"
  rm -rf "$i686_prefix" "$staging"
  mkdir -p "$staging"
  WINEPREFIX="$staging/prefix" xvfb-run -a "$i686_here/run.sh" \
    "$i686_repo/scripts/wine-prefix.sh" "$staging/prefix" >/dev/null
  [ -f "$staging/prefix/system.reg" ] || { echo "i686: making the 32-bit Wine prefix failed" >&2; exit 1; }
  touch "$staging/prefix/.parleym-complete"
  mv "$staging/prefix" "$i686_prefix"
  rmdir "$staging"
}

fetch_qemu
build_launcher
make_root
build_shim
make_prefix
echo "i686 Wine ready in $i686_cache"
