"""Online-time statistics and their details."""
import os
import re

import olefile

from streams import control_text, list_rows
from driver import LOADER_END, LOADER_START
from tour import check

TITLE = "Online-time statistics and details"
REQUIRES = ["plugin/stats/StatsDlg.cpp", "plugin/stats/StatDetailDlg.cpp"]
STATS = "Online time statistics"
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"

SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=OFFLINE
add-contact carol@parleym.example "Carol C" status=OFFLINE
sleep 1000
status bob@parleym.example ONLINE
status carol@parleym.example ONLINE
sleep 1000
status carol@parleym.example OFFLINE
sleep 2500
answer caption="Online time statistics" select=bob@parleym.example screenshot=statistics button="Details..." again=yes
answer caption="Statistics details" screenshot=details button=Close
answer caption="Online time statistics" button=Close
menu main Parleym "Statistics..."
wait answered timeout=20000
signout
sleep 500
''' + LOADER_END


def seconds(text):
    match = re.fullmatch(r"(?:(\d+) days? )? ?(\d\d):(\d\d):(\d\d)", text or "")
    if not match:
        return -1
    days, hours, minutes, secs = (int(g) if g else 0 for g in match.groups())
    return ((days * 24 + hours) * 60 + minutes) * 60 + secs


def run_options(ctx):
    return ctx.run_options("wm")


def steps(result, ctx):
    stats = result.lines_starting('dialog caption="%s"' % STATS)
    rows = {row[1]: row for row in list_rows(stats[0], 4011)} if stats else {}
    details = result.lines_starting('dialog caption="Statistics details for %s"' % BOB)
    detail_rows = list_rows(details[0], 4013) if details else []
    summary = control_text(details[0], "Static:4015") if details else ""
    streams = []
    try:
        with olefile.OleFileIO(os.path.join(result.data_dir, "stats.dat")) as f:
            streams = sorted(p[-1] for p in f.listdir() if len(p) == 2)
    except Exception:
        pass
    return [
        dict(title="Online times per contact", shot="statistics",
             story="Bob and Carol came online; Carol went offline after a second, Bob stayed; the user chose "
                   "\"Statistics...\". Parleym listed each contact seen online with the time online "
                   "while the user was signed in, and the user's own total.",
             checks=[check("the \"Online time statistics\" dialog lists Bob and Carol by friendly name",
                           sorted(rows) == [BOB, CAROL] and rows[BOB][0] == "Bob B"),
                     check("Bob was online at least 3 s, longer than Carol",
                           rows and seconds(rows[BOB][2]) >= 3 and seconds(rows[BOB][2]) > seconds(rows[CAROL][2])),
                     check("stats.dat (after sign-out) holds the account's \"sessions\" and \"users\" streams",
                           streams == ["sessions", "users"])]),
        dict(title="Details for one contact", shot="details",
             story="With Bob selected the user chose \"Details...\". Parleym showed the user's sign-in "
                   "session in bold with Bob's online period under it, and Bob's share of the user's "
                   "online time.",
             checks=[check("the details dialog for Bob came up", details),
                     check("one session with Bob's period under it", len(detail_rows) == 2),
                     check("the summary gives Bob's share in per cent",
                           re.search(r"is \d+\.\d\d% of your total online time", summary or ""))]),
    ]
