"""A damaged log file salvaged at sign-in: what could be read is kept, the damaged file beside it."""
import os
import re

import olefile

import damage
from streams import log_index, message_content
from driver import LOADER_END, LOADER_START
from scenarios import OPEN_VIEWER, viewer_pilot
from tour import check

TITLE = "A damaged log file is salvaged"
REQUIRES = ["plugin/storage/StorageFileSalvage.cpp", "plugin/logging/LogFileSalvage.cpp"]
FIXTURE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "logs-cli", "fixture")
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"

SCENARIO = LOADER_START + r'''
answer OK caption=Parleym text="was damaged" screenshot=salvage-box
signin me@parleym.example "Me Myself"
wait answered timeout=10000
''' + OPEN_VIEWER + viewer_pilot("select", "0", "0", "pane", "pane-salvaged.txt") + \
    "screenshot viewer-after-salvage\nsignout\n" + LOADER_END


def damaged_logs():
    """The log file of the logging tour (Bob's and Carol's conversations) as a disk
    might leave it: the chain of sectors of Carol's conversation broken."""
    with open(os.path.join(FIXTURE, "logs.dat"), "rb") as f:
        data = f.read()
    logs = damage.Compound(data)
    carol = logs.find("1/2")
    chain = logs.stream_chain(carol)
    at = logs.mini_fat_entry_offset(chain[1]) if logs.is_mini(carol) else logs.fat_entry_offset(chain[1])
    return logs.put32(at, damage.FREE)


def run_options(ctx):
    options = ctx.run_options("wm", extra_files=ctx.bench.viewer_pilot())
    with open(os.path.join(FIXTURE, "objcache.dat"), "rb") as f:
        options["data_files"].update({"logs.dat": damaged_logs(), "objcache.dat": f.read()})
    return options


def steps(result, ctx):
    boxes = [line for line in result.lines if line.startswith('box caption="Parleym"') and "was damaged" in line]
    kept = [name for name in os.listdir(result.data_dir) if re.fullmatch(r"logs\.dat\.damaged-\d{8}-\d{6}", name)]
    contacts, bob = [], (0, "", [])
    try:
        with olefile.OleFileIO(os.path.join(result.data_dir, "logs.dat")) as logs:
            account, (_, _, index) = log_index(logs)
            contacts = sorted(entry["contact"] for entry in index)
            for entry in index:
                if entry["contact"] == BOB:
                    bob = message_content(logs.openstream([account, str(entry["number"])]).read())
    except Exception:  # an unreadable file fails the checks below
        pass
    pane = result.data_file("pane-salvaged.txt") or b""
    return [
        dict(title="At sign-in the damaged log file is salvaged", shot="salvage-box",
             story="logs.dat came with the chain of sectors of Carol's conversation broken, as a bad disk "
                   "or an end in the middle of a save can leave it. At sign-in Parleym did not write into "
                   "it: it kept the damaged file beside under a dated name, copied every conversation it "
                   "could read whole into a fresh logs.dat, and said so in one box.",
             checks=[check("one box: \"1 of 2 conversations recovered; the damaged file was kept as ...\"",
                           len(boxes) == 1 and "was damaged. 1 of 2 conversations recovered; the damaged file "
                                               "was kept as " in boxes[0]),
                     check("the damaged file lies beside, byte for byte as it was",
                           len(kept) == 1 and result.data_file(kept[0]) == damaged_logs()),
                     check("the fresh logs.dat holds Bob's conversation and no longer lists Carol's",
                           contacts == [BOB] and "how are you" in bob[1])]),
        dict(title="The log viewer shows what was kept", shot="viewer-after-salvage",
             story="The user opened the log viewer: Bob's conversation is there as it was logged, and "
                   "logging goes on into the fresh file.",
             checks=[check("the viewer's text pane shows Bob's conversation", b"how are you" in pane)]),
    ]
