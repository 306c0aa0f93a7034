"""A conversation forwarded, as it happens, to another contact."""
import os

import olefile

from streams import list_rows, log_index
from driver import LOADER_END
from scenarios import forward, signed_in
from tour import check

TITLE = "Forward conversation"
REQUIRES = ["plugin/messaging/ForwardHandler.cpp", "plugin/messaging/ContactSelectDlg.cpp"]
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"
DAVE = "dave@parleym.example"
ERIN = "erin@parleym.example"
BEFORE = "Hi! Did you get the tickets?"
AFTER = "Bring the tickets, please."
TITLE_FORWARDING = "Bob B - Conversation(Forward to Carol C)"

SCENARIO = "option window-states\n" + signed_in(
    (BOB, "Bob B", "ONLINE"), (CAROL, "Carol C", "ONLINE"), (DAVE, "Dave D", "ONLINE"),
    (ERIN, "Erin E", "OFFLINE")) + '''open bob@parleym.example
receive bob@parleym.example "%s"
''' % BEFORE + forward(BOB, CAROL, "Carol C") + '''receive bob@parleym.example "Yes: two seats in row 5."
type bob@parleym.example "Great, Carol will be glad."
enter bob@parleym.example
receive bob@parleym.example "See you both at eight."
screenshot source
# The forward window is opened minimised; the user brings it up to look.
post conv:carol@parleym.example 274 61728
screenshot target
show conv:carol@parleym.example minimized
menu conv:bob@parleym.example Parleym "Cancel forward"
receive bob@parleym.example "%s"
screenshot cancelled
signout
''' % AFTER + LOADER_END


def run_options(ctx):
    return ctx.run_options("msn")


def bob_log(path):
    """The numbers of Bob's logged conversations and the text of the first, from logs.dat."""
    with olefile.OleFileIO(path) as logs:
        account, (_, _, entries) = log_index(logs)
        numbers = [e["number"] for e in entries if e["contact"] == BOB]
        text = logs.openstream([account, str(numbers[0])]).read().decode("latin-1") if numbers else ""
    return numbers, text


def steps(result, ctx):
    lines = result.lines
    pickers = result.lines_starting('dialog caption="Forward conversation"')
    offered = sorted(row[1] for row in list_rows(pickers[0], 4000)) if pickers else []
    to_carol = result.sent(CAROL)
    menus = result.lines_starting("menubar conv:%s " % BOB)
    bob_titles = result.titles(BOB)
    try:
        numbers, text = bob_log(os.path.join(result.data_dir, "logs.dat"))
    except Exception:
        numbers, text = [], ""
    return [
        dict(title="Choosing whom to forward to", shot="picker",
             story="In Bob's conversation window the user chose \"Forward conversation...\" in the Parleym menu. "
                   "Parleym offered the contacts who are online, leaving out Bob himself; the user picked Carol.",
             checks=[check("Carol and Dave are offered; Bob (the conversation's own contact) and Erin (offline) "
                           "are not", offered == [CAROL, DAVE])]),
        dict(title="The conversation while it is forwarded", shot="source",
             story="Bob and the user went on talking. Parleym marked the window's title \"(Forward to Carol C)\" "
                   "and turned its menu item into \"Cancel forward\"; a second window, to Carol, sits minimised "
                   "at the bottom of the screen.",
             checks=[check("the title reads \"%s\"" % TITLE_FORWARDING, TITLE_FORWARDING in bob_titles),
                     check("the Parleym menu offers \"Cancel forward\"",
                           any("Parleym[Cancel forward|" in l for l in menus)),
                     check("the window to Carol was opened minimised",
                           "state conv:%s enabled=yes minimized=yes" % CAROL in lines)]),
        dict(title="What Carol receives", shot="target",
             story="Every new message of the conversation went on to Carol as it happened: first a header "
                   "naming Bob, then each message as one line, \"[FW] \" followed by who said it and what. "
                   "What was said before forwarding began was not sent.",
             checks=[check("the header \"[Forward conversation with Bob B]\" came first, once",
                           to_carol[:1] == ["[Forward conversation with Bob B]"]
                           and to_carol.count("[Forward conversation with Bob B]") == 1),
                     check("then the three messages, each joined into one \"[FW] Name says: text\" line",
                           to_carol[1:] == ["[FW] Bob B says: Yes: two seats in row 5.",
                                            "[FW] Me Myself says: Great, Carol will be glad.",
                                            "[FW] Bob B says: See you both at eight."]),
                     check("the line said before forwarding began was not forwarded",
                           not any(BEFORE in t for t in to_carol))]),
        dict(title="Cancel forward", shot="cancelled",
             story="The user chose \"Cancel forward\". The title and the menu item came back; Bob's next line "
                   "stayed between the two of them, and the whole conversation is logged as one.",
             checks=[check("the title is \"Bob B - Conversation\" again", bob_titles[-1:] == ["Bob B - Conversation"]),
                     check("the menu offers \"Forward conversation...\" again",
                           bool(menus) and "Parleym[Forward conversation...|" in menus[-1]),
                     check("nothing after Cancel reached Carol", not any(AFTER in t for t in to_carol)),
                     check("logs.dat (decoded): one conversation with Bob, from before forwarding to after Cancel",
                           len(numbers) == 1 and BEFORE in text and AFTER in text)]),
    ]
