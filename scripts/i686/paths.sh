# Where the i686 equipment lives; sourced by setup.sh, run.sh and the tests' scripts.
i686_here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
i686_repo="$(cd "$i686_here/../.." && pwd)"
i686_cache="${PARLEYM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/parleym}/i686"
i686_root="$i686_cache/root"            # the i386 Debian root holding wine32
i686_qemu="$i686_cache/qemu-i386"       # static qemu user mode for i386 guests
i686_ns="$i686_cache/bin/parleym-ns"    # the namespace launcher (ns.c)
i686_shim=/usr/local/lib/parleym-sigshim.so  # inside the root (sigshim.c)
i686_prefix="$i686_cache/prefix"        # a fresh 32-bit Wine prefix, copied for each run
