"""Conversation logging with emoticons, and the log viewer in both groupings."""
import os

import olefile

from streams import log_index, message_content, shown_text, unquote
from driver import LOADER_END
from scenarios import LOGGING_BACK_ON_AND_VIEWER, signed_in
from tour import check

TITLE = "Conversation logging and the log viewer"
REQUIRES = ["plugin/logging/LogHandler.cpp", "plugin/logging/LogViewer.cpp"]
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"
QUESTION = "If you enable logging all current conversation will be logged"

# The user starts Parleym while the messenger runs.
SCENARIO = signed_in((BOB, "Bob B", "ONLINE"), (CAROL, "Carol C", "ONLINE")) + '''open bob@parleym.example
receive bob@parleym.example "Hi there :-) how are you (Y)"
type bob@parleym.example "fine :-) thanks"
enter bob@parleym.example
wait history bob@parleym.example thanks
screenshot conversation
''' + LOGGING_BACK_ON_AND_VIEWER + "signout\n" + LOADER_END


def run_options(ctx):
    return ctx.run_options("wm", extra_files=ctx.bench.viewer_pilot())


def steps(result, ctx):
    logs = cache = None
    index, account, contents = [], None, {}
    try:
        logs = olefile.OleFileIO(os.path.join(result.data_dir, "logs.dat"))
        cache = olefile.OleFileIO(os.path.join(result.data_dir, "objcache.dat"))
        account, (_, enabled, index) = log_index(logs)
        for entry in index:
            contents[entry["contact"]] = message_content(logs.openstream([account, str(entry["number"])]).read())
        cached = {p[0] for p in cache.listdir(storages=True, streams=False) if len(p) == 1}
    except Exception as error:  # an unreadable file fails the checks below
        enabled, cached = None, set()
        contents["error"] = error
    finally:
        for f in (logs, cache):
            if f:
                f.close()
    history = result.last("history conv:%s" % BOB)
    marked = unquote(history)[0] if history else ""
    bob = contents.get(BOB, (0, "", []))
    carol = contents.get(CAROL, (0, "", []))
    keys = [key for _, key in bob[2]]

    def pane(name):
        path = os.path.join(result.data_dir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().decode("latin-1").replace("\r\n", "\n").replace("\r", "\n").rstrip("\n")

    expected_pane = shown_text(marked).rstrip("\n")
    return [
        dict(title="A conversation with emoticons is logged as it happens", shot="conversation",
             story="Bob wrote \"Hi there :-) how are you (Y)\" and the user answered \"fine :-) thanks\"; "
                   "the messenger showed the emoticons as pictures. Parleym saved the whole conversation "
                   "into logs.dat with every picture stored once in objcache.dat.",
             checks=[check("the history shows three pictures (:-), (Y), :-))", marked.count("{") == 3),
                     check("logs.dat holds one conversation each with Bob and Carol",
                           sorted(e["contact"] for e in index) == [BOB, CAROL]),
                     check("Bob's conversation is stored as rich text with both lines",
                           bob[0] == 1 and "how are you" in bob[1] and "thanks" in bob[1]),
                     check("three pictures referenced, the two :-) sharing one cached object",
                           len(keys) == 3 and keys[0] == keys[2] and keys[0] != keys[1]),
                     check("objcache.dat holds exactly the two distinct pictures", cached == set(keys))]),
        dict(title="Switching logging on asks first, then logs what the window already shows", shot="question",
             story="The user switched logging off, Carol wrote a line, and the user chose \"Enable logging\" "
                   "again. Parleym asked whether to log the current conversations too; the user said Yes.",
             checks=[check("Parleym asked: \"%s...\"" % QUESTION,
                           any(l.startswith('box caption="Parleym"') and QUESTION in l for l in result.lines)),
                     check("logging is on in the log's index", enabled == 1),
                     check("Carol's conversation holds the line said while logging was off and the one after",
                           "said while logging was off" in carol[1] and "said after" in carol[1])]),
        dict(title="The log viewer, conversations grouped by day", shot="viewer-by-date",
             story="The user chose \"View logs...\". Parleym opened its log viewer with the logged "
                   "conversations in a tree by day; the first one, selected, shows its text and emoticons.",
             checks=[check("the viewer window \"Log viewer\" opened",
                           any("ParleymFwWindow" in l and "Log viewer" in l for l in result.lines)),
                     check("the viewer's text pane shows Bob's conversation as the messenger did",
                           pane("pane-by-date.txt") == expected_pane)]),
        dict(title="The log viewer, conversations grouped by contact", shot="viewer-by-user",
             story="The user switched the viewer's grouping to contacts. The tree now lists each contact "
                   "with its conversations; the selected one shows the same logged text.",
             checks=[check("the viewer's text pane shows Bob's conversation in this grouping too",
                           pane("pane-by-user.txt") == expected_pane)]),
    ]
