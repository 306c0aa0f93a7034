"""Offline message composed and delivered."""
import os
import re
import struct

import olefile

from driver import LOADER_END, LOADER_START
from tour import check

TITLE = "Offline messages, composed and delivered"
REQUIRES = ["plugin/offline/OfflineMessageHandler.cpp", "plugin/offline/OfflineMessageStore.cpp"]
CAROL = "carol@parleym.example"
DAVE = "dave@parleym.example"
ANN = "ann@parleym.example"
JO = "joann@parleym.example"
PREFIX = r"\[Offline message on [^\]]+\] "

SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact ann@parleym.example "Ann A" status=OFFLINE
add-contact carol@parleym.example "Carol C" status=OFFLINE
add-contact dave@parleym.example "Dave D" status=OFFLINE
add-contact joann@parleym.example "Jo J" status=OFFLINE
# From the contact list's menu: a window to Carol, who is offline.
context-menu carol@parleym.example "Send offline message..."
wait conv carol@parleym.example timeout=10000
wait title conv:carol@parleym.example "Carol C - Offline message" timeout=5000
type carol@parleym.example "see you tomorrow :-)"
enter carol@parleym.example
sleep 500
screenshot composed
close carol@parleym.example
wait no-conv carol@parleym.example timeout=5000
# One for Dave too, who stays offline.
context-menu dave@parleym.example "Send offline message..."
wait conv dave@parleym.example timeout=10000
type dave@parleym.example "call me back"
enter dave@parleym.example
sleep 300
close dave@parleym.example
wait no-conv dave@parleym.example timeout=5000
# Carol signs in: Parleym opens her window and sends what was kept.
status carol@parleym.example ONLINE
wait history carol@parleym.example "see you tomorrow" timeout=10000
sleep 500
screenshot delivered
# Ann's address is inside Jo's: what is written to Jo is Jo's, and reaches Jo only.
context-menu joann@parleym.example "Send offline message..."
wait title conv:joann@parleym.example "Jo J - Offline message" timeout=10000
type joann@parleym.example "for Jo, not Ann"
enter joann@parleym.example
sleep 300
close joann@parleym.example
wait no-conv joann@parleym.example timeout=5000
status ann@parleym.example ONLINE
sleep 500
status joann@parleym.example ONLINE
wait history joann@parleym.example "for Jo, not Ann" timeout=10000
sleep 500
screenshot contained-address
signout
sleep 300
''' + LOADER_END


def int32(data, at):
    return struct.unpack_from("<i", data, at)[0], at + 4


def pending(path):
    """offlinemsg.dat's "messages" stream: {contact: [text, ...]}."""
    with olefile.OleFileIO(path) as ole:
        data = ole.openstream([p for p in ole.listdir() if p[-1] == "messages"][0]).read()
    count, at = int32(data, 0)
    blocks = {}
    for _ in range(count):
        length, at = int32(data, at)
        name = data[at:at + length].decode("latin-1")
        messages, at = int32(data, at + length)
        texts = []
        for _ in range(messages):
            _, at = int32(data, at)
            length, at = int32(data, at)
            texts.append(data[at:at + length].decode("latin-1"))
            objects, at = int32(data, at + length)
            for _ in range(objects):
                _, at = int32(data, at)
                key_length, at = int32(data, at)
                at += key_length
        blocks[name] = texts
    return blocks


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
