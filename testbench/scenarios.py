"""Scenario texts that the stand-in tests and the tour both run, written once: the same
story in both, told the same way."""
from driver import LOADER_START

SIGN_IN = 'signin me@parleym.example "Me Myself"'


def signed_in(*contacts):
    """The loader started in the running messenger, the user signed in and the contacts
    added, each (sign-in name, friendly name, status). Ends with a line end."""
    lines = [LOADER_START, SIGN_IN] + ['add-contact %s "%s" status=%s' % contact for contact in contacts]
    return "\n".join(lines) + "\n"


def offline_message(who, name, *texts):
    """A window to an offline contact from the contact list's menu, marked as such, and
    the lines written in it, each sent with Enter."""
    lines = ['context-menu %s "Send offline message..."' % who,
             'wait title conv:%s "%s - Offline message" timeout=10000' % (who, name)]
    for text in texts:
        lines += ['type %s "%s"' % (who, text), "enter " + who]
    return "\n".join(lines) + "\n"


def forward(who, to, name):
    """The user forwards the conversation with `who` to the contact picked by `name`
    (address `to`), whose window is then open."""
    return '''answer OK caption="Forward conversation" select="%s" screenshot=picker
menu conv:%s Parleym "Forward conversation..."
wait answered timeout=5000
wait conv %s timeout=5000
''' % (name, who, to)


# Carol and Dave picked as the broadcast's recipients. The picker shares the broadcast
# dialog's caption; its prompt tells them apart. Each answer is given before the click
# that opens its dialog.
PICK_CAROL_AND_DAVE = '''answer OK caption="Broadcast message" text="Select users to broadcast" select="Carol C" select="Dave D" screenshot=picker
answer "Select users" caption="Broadcast message" again=yes
wait answered timeout=5000
'''

OPEN_VIEWER = '''menu main Parleym "View logs..."
wait window ParleymFwWindow "Log viewer"
'''


def find(word, extra=""):
    """Edit, Find... in the viewer: the word searched for in every conversation of the account."""
    return '''answer 1 caption=Find edit=4101:"%s"%s
menu class:ParleymFwWindow Edit "Find..."
wait answered timeout=20000
''' % (word, extra)


FIND_NEXT = 'menu class:ParleymFwWindow Edit "Find Next"\n'


def viewer_pilot(*words):
    """The viewer pilot run with these words, the last one the file it writes (what the
    pane shows, or where its selection is); done once that file is there."""
    return "spawn logviewer_pilot.exe %s\nwait file %s timeout=10000\n" % (" ".join(words), words[-1])


# Logging off, a line to Carol, logging on again: Parleym asks first. Then the log viewer
# in both groupings, each with Bob's conversation selected (the first of the first group).
LOGGING_BACK_ON_AND_VIEWER = '''menu main Parleym "Enable logging"
open carol@parleym.example
receive carol@parleym.example "said while logging was off :-)"
answer Yes caption=Parleym screenshot=question
menu main Parleym "Enable logging"
wait answered timeout=5000
receive carol@parleym.example "said after"
''' + OPEN_VIEWER + viewer_pilot("select", "0", "0", "pane", "pane-by-date.txt") + "screenshot viewer-by-date\n" + \
    viewer_pilot("group-user", "select", "0", "0", "pane", "pane-by-user.txt") + "screenshot viewer-by-user\n"
