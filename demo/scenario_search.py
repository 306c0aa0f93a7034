"""Finding a word in every logged conversation from the log viewer."""
import os

from driver import LOADER_END, LOADER_START
from scenarios import FIND_NEXT, OPEN_VIEWER, find, viewer_pilot
from tour import check

TITLE = "Finding text in all logs"
REQUIRES = ["plugin/logging/LogFindPane.cpp"]
WORD = "lunch"

SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "Shall we have LUNCH on Friday? :-)"
type bob@parleym.example "yes, see you then"
enter bob@parleym.example
wait history bob@parleym.example then
open carol@parleym.example
receive carol@parleym.example "The report is done"
type carol@parleym.example "great, then lunch is on me"
enter carol@parleym.example
wait history carol@parleym.example "on me"
''' + OPEN_VIEWER + "# Edit, Find...: the word, in any case, in every conversation of the account.\n" + \
    find(WORD, " screenshot=find-dialog") + \
    "# F3 from the menu: the first match, then the next one, each shown selected.\n" + \
    FIND_NEXT + "screenshot find-first\n" + viewer_pilot("pane", "find-first.txt") + \
    FIND_NEXT + "screenshot find-second\n" + viewer_pilot("pane", "find-second.txt") + "signout\n" + LOADER_END


def run_options(ctx):
    return ctx.run_options("wm", extra_files=ctx.bench.viewer_pilot())


def steps(result, ctx):
    def pane(name):
        path = os.path.join(result.data_dir, name)
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    first, second = pane("find-first.txt"), pane("find-second.txt")
    return [
        dict(title="Asking for a word", shot="find-dialog",
             story="In the log viewer the user chose Edit, \"Find...\" (Ctrl+F) and typed \"%s\". Parleym "
                   "searches every logged conversation of the account, not just the one on show, without "
                   "regard to case." % WORD,
             checks=[check("the \"Find\" dialog was shown and answered",
                           any("Find in all logged conversations" in line for line in result.lines))]),
        dict(title="The first match, shown selected", shot="find-first",
             story="The search ran in short slices on the messenger's own thread, its progress in the status "
                   "bar; the hits (date, contact, the line with the match) are listed below the conversation. "
                   "\"Find Next\" (F3) showed the first one: Bob's \"LUNCH\", selected in his conversation.",
             checks=[check("the pane shows a conversation that holds the word in another case",
                           "LUNCH" in first and "Friday" in first)]),
        dict(title="The next match, in another contact's conversation", shot="find-second",
             story="F3 again went on to the next hit, in Carol's conversation, and selected it there.",
             checks=[check("the pane now shows Carol's conversation with the word",
                           "lunch is on me" in second and "Friday" not in second)]),
    ]
