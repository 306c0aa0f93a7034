"""One message broadcast to several contacts."""
import os

import olefile

from streams import list_rows, log_index
from driver import LOADER_END
from scenarios import PICK_CAROL_AND_DAVE, signed_in
from tour import check

TITLE = "Broadcast message"
REQUIRES = ["plugin/messaging/BroadcastMsgDlg.cpp", "plugin/messaging/ContactSelectDlg.cpp"]
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"
DAVE = "dave@parleym.example"
ERIN = "erin@parleym.example"
FIRST = "Lunch at noon today?"
SECOND = "Same place as last week."

SCENARIO = signed_in((BOB, "Bob B", "ONLINE"), (CAROL, "Carol C", "ONLINE"), (DAVE, "Dave D", "ONLINE"),
                     (ERIN, "Erin E", "OFFLINE")) + '''menu main Parleym "Broadcast message..."
wait window #32770 "Broadcast message" timeout=5000
''' + PICK_CAROL_AND_DAVE + '''answer Send caption="Broadcast message" edit=4006:"%(first)s" again=yes screenshot=dialog
wait answered timeout=5000
wait history carol@parleym.example "%(first)s" timeout=5000
wait history dave@parleym.example "%(first)s" timeout=5000
answer Send caption="Broadcast message" edit=4006:"%(second)s" again=yes
wait answered timeout=5000
wait history carol@parleym.example "%(second)s" timeout=5000
wait history dave@parleym.example "%(second)s" timeout=5000
screenshot delivered
# Carol signs out: her row goes; Dave signing out too closes the dialog.
status carol@parleym.example OFFLINE
answer caption="Broadcast message" screenshot=one-left
wait answered timeout=5000
status dave@parleym.example OFFLINE
wait no-window #32770 timeout=3000
signout
''' % dict(first=FIRST, second=SECOND) + LOADER_END


def run_options(ctx):
    return ctx.run_options("wm")


def logged(path):
    """{contact: the text of its logged conversations} from logs.dat."""
    found = {}
    with olefile.OleFileIO(path) as logs:
        account, (_, _, entries) = log_index(logs)
        for entry in entries:
            stream = [account, str(entry["number"])]
            if logs.exists("/".join(stream)):
                found[entry["contact"]] = found.get(entry["contact"], "") + \
                    logs.openstream(stream).read().decode("latin-1")
    return found


def steps(result, ctx):
    lines = result.lines
    pickers = [l for l in lines if l.startswith('dialog caption="Broadcast message"')
               and "Select users to broadcast" in l]
    offered = sorted(row[1] for row in list_rows(pickers[0], 4000)) if pickers else []
    dialogs = [l for l in lines if l.startswith('dialog caption="Broadcast message"')
               and "Broadcast message to the following users" in l]
    recipient_lists = [[row[1] for row in list_rows(l, 4002)] for l in dialogs]
    left = [i for i, l in enumerate(lines) if l.startswith("step ") and "status %s OFFLINE" % DAVE in l]
    waits = [l for l in lines[left[0]:] if l.startswith("wait-")] if left else []
    closed = bool(waits) and waits[0].startswith("wait-ok no-window")
    try:
        logs = logged(os.path.join(result.data_dir, "logs.dat"))
    except Exception:
        logs = {}
    return [
        dict(title="Choosing the recipients", shot="picker",
             story="The user chose \"Broadcast message...\" in the Parleym menu and then \"Select users\". "
                   "Parleym listed the contacts who are online, sorted by name; the user picked Carol and Dave.",
             checks=[check("the picker offers the online contacts Bob, Carol and Dave, not Erin who is offline",
                           offered == [BOB, CAROL, DAVE])]),
        dict(title="The broadcast dialog with two recipients", shot="dialog",
             story="The dialog listed Carol and Dave as recipients; the user typed \"%s\" and pressed Send." % FIRST,
             checks=[check("the dialog lists Carol and Dave", [CAROL, DAVE] in recipient_lists)]),
        dict(title="Each recipient gets it through their own window", shot="delivered",
             story="Parleym opened a conversation window for each recipient, put the text in and clicked Send; "
                   "a second line, \"%s\", went through the same two windows." % SECOND,
             checks=[check("Carol and Dave each received both lines, in order",
                           result.sent(CAROL) == [FIRST, SECOND] and result.sent(DAVE) == [FIRST, SECOND]),
                     check("one window each: the second send reused them",
                           len(result.lines_starting("window-created conv:" + CAROL)) == 1
                           and len(result.lines_starting("window-created conv:" + DAVE)) == 1),
                     check("Bob, not chosen, got nothing", not result.sent(BOB)),
                     check("logs.dat (decoded) holds both lines in Carol's and in Dave's conversation",
                           all(FIRST in logs.get(c, "") and SECOND in logs.get(c, "") for c in (CAROL, DAVE)))]),
        dict(title="Recipients who sign out leave the list", shot="one-left",
             story="Carol signed out: Parleym took her off the recipients and kept the dialog open for Dave, "
                   "and her conversation window became an offline-message window. When Dave signed out as "
                   "well, the dialog closed by itself.",
             checks=[check("after Carol left only Dave is listed", bool(recipient_lists) and recipient_lists[-1] == [DAVE]),
                     check("the dialog closed when the last recipient signed out", closed)]),
    ]
