"""Offline message composed and delivered."""
import os
import re

import olefile

from driver import LOADER_END
from scenarios import offline_message, signed_in
from streams import offline_messages
from tour import check

TITLE = "Offline messages, composed and delivered"
REQUIRES = ["plugin/offline/OfflineMessageHandler.cpp", "plugin/offline/OfflineMessageStore.cpp"]
CAROL = "carol@parleym.example"
DAVE = "dave@parleym.example"
ANN = "ann@parleym.example"
JO = "joann@parleym.example"
PREFIX = r"\[Offline message on [^\]]+\] "

SCENARIO = signed_in(("bob@parleym.example", "Bob B", "ONLINE"), (ANN, "Ann A", "OFFLINE"),
                     (CAROL, "Carol C", "OFFLINE"), (DAVE, "Dave D", "OFFLINE"), (JO, "Jo J", "OFFLINE")) + \
    "# From the contact list's menu: a window to Carol, who is offline.\n" + \
    offline_message(CAROL, "Carol C", "see you tomorrow :-)") + '''screenshot composed
close carol@parleym.example
wait no-conv carol@parleym.example timeout=5000
# One for Dave too, who stays offline.
''' + offline_message(DAVE, "Dave D", "call me back") + '''close dave@parleym.example
wait no-conv dave@parleym.example timeout=5000
# Carol signs in: Parleym opens her window and sends what was kept.
status carol@parleym.example ONLINE
wait history carol@parleym.example "see you tomorrow" timeout=10000
screenshot delivered
# Ann's address is inside Jo's: what is written to Jo is Jo's, and reaches Jo only.
''' + offline_message(JO, "Jo J", "for Jo, not Ann") + '''close joann@parleym.example
wait no-conv joann@parleym.example timeout=5000
status ann@parleym.example ONLINE
status joann@parleym.example ONLINE
wait history joann@parleym.example "for Jo, not Ann" timeout=10000
screenshot contained-address
signout
''' + LOADER_END


def pending(path):
    """offlinemsg.dat's "messages" stream: {contact: [text, ...]}."""
    with olefile.OleFileIO(path) as ole:
        data = ole.openstream([p for p in ole.listdir() if p[-1] == "messages"][0]).read()
    return {name: [text for _, text, _ in kept] for name, kept in offline_messages(data)[0].items()}


def run_options(ctx):
    return ctx.run_options("wm")


def steps(result, ctx):
    lines = result.lines
    sent = [l for l in lines if l.startswith("sent conv:%s " % CAROL)]
    online = [i for i, l in enumerate(lines) if l.startswith("step ") and "status %s ONLINE" % CAROL in l]
    first_sent = min((i for i, l in enumerate(lines) if l.startswith("sent conv:%s " % CAROL)), default=-1)
    to_jo = [l for l in lines if l.startswith("sent conv:%s " % JO)]
    to_ann = [l for l in lines if l.startswith(("sent conv:%s " % ANN, "window-created conv:%s " % ANN,
                                                'api InstantMessage("%s")' % ANN))]
    try:
        kept = pending(os.path.join(result.data_dir, "offlinemsg.dat"))
    except Exception:
        kept = None
    return [
        dict(title="Writing to a contact who is offline", shot="composed",
             story="Carol was offline; the user chose \"Send offline message...\" from her entry in the "
                   "contact list and typed \"see you tomorrow :-)\". Parleym marked the window as an "
                   "offline message and kept the text instead of letting the messenger fail to send it.",
             checks=[check("the window's title reads \"Carol C - Offline message\"",
                           any(l.startswith("title conv:%s" % CAROL) and "Offline message" in l for l in lines)),
                     check("the messenger sent nothing while Carol was offline",
                           online and (first_sent == -1 or first_sent > online[0]))]),
        dict(title="Delivered when the contact comes online", shot="delivered",
             story="Carol signed in. Parleym opened a conversation with her and sent the kept message "
                   "through the messenger, marked as an offline message; Dave's stays kept for later.",
             checks=[check("exactly one message sent to Carol, after she came online", len(sent) == 1
                           and first_sent > (online[0] if online else 1 << 30)),
                     check("it carries the offline-message mark and the text",
                           bool(sent) and re.search(PREFIX + r"see you tomorrow", sent[0])),
                     check("offlinemsg.dat keeps Dave's message and nothing for Carol",
                           kept is not None and not kept.get(CAROL)
                           and [t for t in kept.get(DAVE, []) if "call me back" in t])]),
        dict(title="The person meant, even when addresses contain one another", shot="contained-address",
             story="Ann (ann@parleym.example) comes before Jo (joann@parleym.example) in the contact list, "
                   "and Ann's address is part of Jo's. The user wrote to Jo while both were offline; "
                   "the window was Jo's, the message was kept for Jo, nothing happened when Ann signed in, "
                   "and it went to Jo, once, when Jo did.",
             checks=[check("the window was titled \"Jo J - Offline message\"",
                           any(l.startswith("title conv:%s" % JO) and "Jo J - Offline message" in l for l in lines)),
                     check("exactly one message sent to Jo, with the text",
                           len(to_jo) == 1 and "for Jo, not Ann" in to_jo[0]),
                     check("nothing sent to Ann and no window opened for her", not to_ann),
                     check("offlinemsg.dat keeps nothing for Ann or Jo",
                           kept is not None and not kept.get(ANN) and not kept.get(JO))]),
    ]
