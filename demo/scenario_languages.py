"""Logs in the user's own language: a Russian and a Japanese conversation on a Japanese Windows,
found in another case and exported."""
import os
import re
import shutil

import olefile

from streams import log_index, unquote
from driver import LOADER_END, LOADER_START
from scenarios import FIND_NEXT, OPEN_VIEWER, find, viewer_pilot
from tour import check

TITLE = "Logs in every language"
REQUIRES = ["plugin/logging/CodePage.cpp"]
FOLDER = "Parleym tour 言語"  # under C:\, made by the export itself
IVAN, TANAKA = "ivan@parleym.example", "tanaka@parleym.example"
RUSSIAN, RUSSIAN_QUERY, RUSSIAN_FOUND = "Привет! Как дела? :-)", "ПРИВЕТ", "Привет"
JAPANESE, JAPANESE_QUERY = "こんにちは、お元気ですか？ (Y)", "元気"

# Windows' Japanese code page (932) holds Cyrillic too, so one messenger speaks both.
SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact {ivan} "Иван Петров" status=ONLINE
add-contact {tanaka} "田中 太郎" status=ONLINE
open {ivan}
receive {ivan} "{russian}"
type {ivan} "Хорошо, спасибо!"
enter {ivan}
wait history {ivan} "спасибо"
open {tanaka}
receive {tanaka} "{japanese}"
type {tanaka} "はい、元気です！"
enter {tanaka}
wait history {tanaka} "元気です"
screenshot conversations
''' + OPEN_VIEWER + find("{russian_query}") + FIND_NEXT + "screenshot find-russian\n" + \
    viewer_pilot("selection", "find-russian.txt") + find("{japanese_query}") + FIND_NEXT + \
    "screenshot find-japanese\n" + viewer_pilot("selection", "find-japanese.txt") + r'''answer 4153 caption="Export logs" again=yes
answer 1 caption="Export logs" edit=4161:"C:\\{folder}" screenshot=export-dialog
answer OK caption=Parleym text=Exported screenshot=export-done
menu class:ParleymFwWindow File "Export..."
wait answered timeout=20000
signout
''' + LOADER_END
for key, value in (("ivan", IVAN), ("tanaka", TANAKA), ("russian_query", RUSSIAN_QUERY), ("russian", RUSSIAN),
                   ("japanese_query", JAPANESE_QUERY), ("japanese", JAPANESE), ("folder", FOLDER)):
    SCENARIO = SCENARIO.replace("{%s}" % key, value)


def run_options(ctx):
    # A folder left by an earlier tour would let an export that wrote nothing look fine.
    shutil.rmtree(os.path.join(ctx.bench.drive_c, FOLDER), ignore_errors=True)
    return ctx.run_options("wm", extra_files=ctx.bench.viewer_pilot(), locale="ja_JP.UTF-8")


def selected(result, who, name):
    """The text the viewer had selected, read from the history the stand-in showed (each
    emoticon one character, as in the control)."""
    try:
        with open(os.path.join(result.data_dir, name)) as f:
            start, end = (int(n) for n in f.read().split())
        history = re.sub(r"\{[^{}]*\}", "\ufffc", unquote(result.last("history conv:%s " % who))[0])
        return history.encode("utf-16-le")[2 * start:2 * end].decode("utf-16-le")
    except Exception:  # no selection written: the check fails
        return None


def steps(result, ctx):
    folder = os.path.join(ctx.bench.drive_c, FOLDER)
    contacts = []
    try:
        logs = olefile.OleFileIO(os.path.join(result.data_dir, "logs.dat"))
        try:
            contacts = sorted(e["contact"] for e in log_index(logs)[1][2])
        finally:
            logs.close()
    except Exception:  # an unreadable log fails the checks below
        contacts = []
    pages = ""
    try:
        with open(os.path.join(folder, "index.html"), encoding="utf-8") as f:
            index = f.read()
        pages = index
        for link in re.findall(r'<a href="([^"]+)"', index):
            with open(os.path.join(folder, *link.split("/")), encoding="utf-8") as f:
                pages += f.read()
    except (OSError, UnicodeDecodeError):
        pass
    done = [line for line in result.lines if line.startswith('box caption="Parleym"') and "Exported" in line]
    return [
        dict(title="A Russian and a Japanese conversation on a Japanese Windows", shot="conversations",
             story="The messenger runs on Windows with the Japanese code page. Ivan writes in Russian, Tanaka "
                   "in Japanese, with emoticons; the user answers each in the same language. Parleym logs "
                   "both as the messenger shows them.",
             checks=[check("logs.dat holds both conversations", contacts == sorted([IVAN, TANAKA]))]),
        dict(title="Found in another case: \"%s\"" % RUSSIAN_QUERY, shot="find-russian",
             story="In the log viewer the user searched for \"%s\" in capitals. Parleym folds the case of "
                   "Cyrillic as of Latin, so Ivan's \"%s\" is found and shown selected." % (
                       RUSSIAN_QUERY, RUSSIAN_FOUND),
             checks=[check("the viewer selected \"%s\" in Ivan's conversation" % RUSSIAN_FOUND,
                           selected(result, IVAN, "find-russian.txt") == RUSSIAN_FOUND)]),
        dict(title="Found in Japanese: \"%s\"" % JAPANESE_QUERY, shot="find-japanese",
             story="Then the user searched for \"%s\" (\"well\"). Each Japanese character is one character "
                   "to Parleym, as to the messenger, so the match is selected exactly: both conversations' "
                   "hits are listed below." % JAPANESE_QUERY,
             checks=[check("the viewer selected \"%s\" in Tanaka's conversation" % JAPANESE_QUERY,
                           selected(result, TANAKA, "find-japanese.txt") == JAPANESE_QUERY)]),
        dict(title="Exported as UTF-8 pages into a folder named in Japanese", shot="export-done",
             story="File, \"Export...\": all logs as HTML into C:\\%s. The pages are UTF-8 and say so, so "
                   "any browser shows both scripts; file names keep the letters Windows can name." % FOLDER,
             checks=[check("Parleym said it exported 2 conversations", any("Exported 2 conversations" in line
                                                                           for line in done)),
                     check("the pages declare UTF-8 and hold both conversations in their scripts",
                           '<meta charset="utf-8">' in pages and "Иван Петров" in pages and
                           "田中 太郎" in pages and "Привет! Как дела?" in pages and
                           "こんにちは、お元気ですか？" in pages)]),
    ]
