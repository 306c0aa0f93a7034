"""A save cut short by a power loss: the next start puts logs.dat back from its journal."""
import os
import struct

import olefile

from streams import log_index, message_content
from driver import LOADER_END, LOADER_START
from scenarios import OPEN_VIEWER, viewer_pilot
from tour import check

TITLE = "Saves that survive a power loss"
REQUIRES = ["plugin/storage/JournaledFile.cpp", "plugin/storage/RollbackJournal.cpp"]
BOB = "bob@parleym.example"
SECTOR = 512

# The first day: one conversation logged, the messenger closed as usual.
FIRST_DAY = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "Did the logs survive the storm?"
type bob@parleym.example "We will see tomorrow"
enter bob@parleym.example
wait history bob@parleym.example tomorrow
signout
''' + LOADER_END

# The next start, after the power went in the middle of a save.
SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
''' + OPEN_VIEWER + viewer_pilot("select", "0", "0", "pane", "pane-after-power-loss.txt") + \
    "screenshot viewer-after-power-loss\nsignout\n" + LOADER_END


def checksum(data, seed):
    """The journal's checksum (plugin/storage/RollbackJournal.cpp)."""
    mask = (1 << 64) - 1
    value = 0xCBF29CE484222325 ^ seed
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & mask
    value ^= value >> 33
    value = (value * 0xFF51AFD7ED558CCD) & mask
    value ^= value >> 33
    value = (value * 0xC4CEB9FE1A85EC53) & mask
    return value ^ (value >> 33)


def hot_journal(original, sectors, written, new_size):
    """The journal a save leaves once the given sectors' old bytes are in it,
    with the trailer of what it was writing (`written`: offset -> new bytes)."""
    nonce = 0x5EED
    header = b"PLYMJRN2" + struct.pack("<QQ", nonce, len(original))
    journal = header + struct.pack("<Q", checksum(header, 0))
    seed = checksum(b"", nonce ^ 0x9E3779B97F4A7C15)
    page_seed = checksum(b"", nonce ^ 0xD1B54A32D192ED03)
    for sector in sectors:
        record = struct.pack("<QI", sector * SECTOR, SECTOR) + original[sector * SECTOR:(sector + 1) * SECTOR]
        journal += record + struct.pack("<Q", checksum(record, seed))
    trailer = b"PLYMNEW2" + struct.pack("<QI", new_size, len(written))
    for offset in sorted(written):
        trailer += struct.pack("<QQ", offset, checksum(written[offset], page_seed))
    return journal + trailer + struct.pack("<Q", checksum(trailer, seed))


class Seed:
    """The first day's logs.dat, and the same file as the power loss left it."""
    original = b""
    torn = b""


def run_options(ctx):
    first = ctx.bench.run(FIRST_DAY, name="tour-recovery-first-day", timeout=180, **ctx.run_options("wm"))
    with open(os.path.join(first.data_dir, "logs.dat"), "rb") as f:
        Seed.original = f.read()
    # Every other sector after the header had been written over when the
    # power went, and the file had begun to grow by the eight it was to grow.
    torn = bytearray(Seed.original)
    sectors = list(range(1, len(torn) // SECTOR, 2))
    written = {}
    for sector in sectors:
        torn[sector * SECTOR:(sector + 1) * SECTOR] = b"\xEE" * SECTOR
        written[sector * SECTOR] = b"\xEE" * SECTOR
    torn += b"\xEE" * (4 * SECTOR)
    Seed.torn = bytes(torn)
    journal = hot_journal(Seed.original, sectors, written, len(Seed.original) + 8 * SECTOR)
    files = {"logs.dat": Seed.torn, "logs.dat-journal": journal}
    with open(os.path.join(first.data_dir, "objcache.dat"), "rb") as f:
        files["objcache.dat"] = f.read()
    options = ctx.run_options("wm", extra_files=ctx.bench.viewer_pilot())
    options["data_files"].update(files)
    return options


def conversation_with_bob(data):
    logs = None
    try:
        logs = olefile.OleFileIO(data)
        account, (_, _, index) = log_index(logs)
        entry = [e for e in index if e["contact"] == BOB][0]
        return message_content(logs.openstream([account, str(entry["number"])]).read())[1]
    except Exception:  # an unreadable file reads as nothing
        return None
    finally:
        if logs:
            logs.close()


def steps(result, ctx):
    after = os.path.join(result.data_dir, "logs.dat")
    with open(after, "rb") as f:
        now = f.read()
    before = conversation_with_bob(Seed.original)
    pane_path = os.path.join(result.data_dir, "pane-after-power-loss.txt")
    pane = ""
    if os.path.exists(pane_path):
        with open(pane_path, "rb") as f:
            pane = f.read().decode("latin-1")
    boxes = [line for line in result.lines if line.startswith("box ")]
    return [
        dict(title="The next start finds a save cut short and puts the file back", shot="viewer-after-power-loss",
             story="The first day the user talked with Bob and closed the messenger. The next time, the power "
                   "went while Parleym was saving: half of the sectors of logs.dat had been written over and "
                   "the file had begun to grow, and the journal beside it (logs.dat-journal) held what those "
                   "sectors were before. At the next start Parleym put them back from the journal before "
                   "opening the file, without a message; the user opened the log viewer and found the "
                   "conversation as it was.",
             checks=[check("the first day's conversation with Bob was logged",
                           before is not None and "tomorrow" in before),
                     check("as the power loss left it, logs.dat could not be read",
                           conversation_with_bob(Seed.torn) is None),
                     check("the viewer's text pane shows the conversation with Bob",
                           "Did the logs survive the storm?" in pane and "We will see tomorrow" in pane),
                     check("logs.dat holds the conversation byte for byte as before",
                           conversation_with_bob(now) == before),
                     check("the journal is gone", not os.path.exists(after + "-journal")),
                     check("no message box was shown", not boxes)]),
    ]
