#!/usr/bin/python3
"""Logs in every Windows ANSI code page, end to end: for each page the stand-in
messenger runs under Wine with that system code page (from the locale), a contact
named in its script says a line in it and the user answers; the real deliverables
log it; the log viewer finds a word of it in another case and shows it selected;
the viewer exports the logs; parleym-logs lists, shows, searches and exports the
same logs.dat natively. Under the Japanese page one history mixes Russian,
Japanese and emoticons. One stand-in run per page, every check on its results;
PARLEYM_CODEPAGES=1251,932 runs only those pages."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unicodedata
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

from benchtest import LOADER_END, LOADER_START, bench, unquote  # noqa: E402
from scenarios import FIND_NEXT, OPEN_VIEWER, find, viewer_pilot  # noqa: E402

ME = "me@parleym.example"

# page, locale, the contact's sign-in and friendly names, its line, the reply,
# a word to find (in another case where the script has cases) and what it finds.
# Turkish: the dotless ı finds the capital I only by Turkish rules.
PAGES = [
    (1250, "pl_PL", "pawel@parleym.example", "Paweł Żak", "Zażółć gęślą jaźń, ŁÓDŹ", "Dzień dobry", "łódź", "ŁÓDŹ"),
    (1251, "ru_RU", "иван@пример.рф", "Иван Петров", "Привет, как дела? ПРИВЕТ!", "Хорошо, спасибо", "привет",
     "Привет"),
    (1252, "en_US", "zoe@parleym.example", "Zoë Müller", "Café crème, l'œuvre — ÉTÉ", "Très bien", "été", "ÉTÉ"),
    (1253, "el_GR", "γιώργος@παράδειγμα.gr", "Γιώργος", "Καλημέρα, τι κάνεις; ΚΑΛΗΜΈΡΑ", "Καλά, ευχαριστώ",
     "καλημέρα", "Καλημέρα"),
    (1254, "tr_TR", "ayse@parleym.example", "Ayşe Yıldız", "Günaydın İstanbul, ILIK şeker", "Çok iyi", "ılık", "ILIK"),
    (1255, "he_IL", "david@parleym.example", "דוד", "שלום, מה שלומך?", "טוב, תודה", "שלום", "שלום"),
    (1256, "ar_EG", "ahmed@parleym.example", "أحمد", "مرحبا، كيف حالك؟", "بخير، شكرا", "حالك", "حالك"),
    (1257, "lt_LT", "jonas@parleym.example", "Jonas Žukas", "Labas rytas, ąžuolas ŠIAULIAI", "Ačiū", "šiauliai",
     "ŠIAULIAI"),
    (1258, "vi_VN", "nam@parleym.example", "Nguyễn Nam", "Xin chào, bạn khỏe không? CHÀO", "Cảm ơn", "chào", "chào"),
    (874, "th_TH", "somchai@parleym.example", "สมชาย", "สวัสดีครับ เป็นอย่างไรบ้าง", "สบายดี", "ครับ", "ครับ"),
    (932, "ja_JP", "田中@例え.jp", "田中", "こんにちは、ソフト表示です", "元気です", "ソフト", "ソフト"),
    (936, "zh_CN", "wang@parleym.example", "王伟", "你好，最近怎么样？", "很好，谢谢", "最近", "最近"),
    (949, "ko_KR", "minsu@parleym.example", "김민수", "안녕하세요, 잘 지내요?", "네, 고마워요", "지내요", "지내요"),
    (950, "zh_TW", "chan@parleym.example", "陳大文", "你好，許功蓋怎麼樣？", "很好，謝謝", "許功蓋", "許功蓋"),
]

# Under the Japanese page: Russian and Japanese in one history with emoticons,
# and a second search, for a Cyrillic word in another case.
MIXED_PAGE = 932
MIXED = "Мир и こんにちは :-) снова (Y)"
MIXED_QUERY, MIXED_FOUND = "МИР", "Мир"


def codec(page):
    return "gbk" if page == 936 else "cp%d" % page


def as_typed(page, text):
    """The text as that system holds it: Vietnamese letters the page has no
    precomposed form of are a letter it has and combining marks."""
    def fits(s):
        try:
            s.encode(codec(page))
            return True
        except UnicodeEncodeError:
            return False
    out = ""
    for ch in text:
        if fits(ch):
            out += ch
            continue
        parts = unicodedata.normalize("NFD", ch)
        base, marks = parts[0], parts[1:]
        while marks and len(unicodedata.normalize("NFC", base + marks[0])) == 1 and \
                fits(unicodedata.normalize("NFC", base + marks[0])):
            base, marks = unicodedata.normalize("NFC", base + marks[0]), marks[1:]
        out += base + marks
    return out


def fold(text, page):
    if page == 1254:
        text = text.replace("I", "ı").replace("İ", "i")
    return text.lower()


def export_folder(page, name):
    """Where the viewer exports: two folders deep, the last named in the page's
    script; under 932 both names end in a byte that is a backslash's (表, ソ)."""
    if page == 932:
        return "C:\\ParleymBench\\codepages-export\\932-表\\ソ"
    return "C:\\ParleymBench\\codepages-export\\%d\\%s" % (page, name.split()[0])


def scenario(page, who, name, line, reply, query, folder, text_format):
    # The viewer shows the conversation the search found, so the export's
    # scope is that one, the account's only conversation.
    steps = [LOADER_START,
             'signin %s "Me Myself"' % ME,
             'add-contact %s "%s" status=ONLINE' % (who, name),
             "open %s" % who,
             'receive %s "%s :-)"' % (who, line)]
    if page == MIXED_PAGE:
        steps.append('receive %s "%s"' % (who, MIXED))
    steps += ['type %s "%s"' % (who, reply),
              "enter %s" % who,
              'wait history %s "%s"' % (who, reply),
              OPEN_VIEWER]
    searches = [(query, "found")]
    if page == MIXED_PAGE:
        searches.append((MIXED_QUERY, "mixed"))
    for text, file in searches:
        steps += [find(text) + FIND_NEXT + viewer_pilot("selection", "%s-selection.txt" % file)]
    steps += ["screenshot found"]
    if text_format:
        steps.append('answer 4155 caption="Export logs" again=yes')
    steps += ['answer 1 caption="Export logs" edit=4161:"%s"' % folder.replace("\\", "\\\\"),
              "answer OK caption=Parleym text=Exported",
              'menu class:ParleymFwWindow File "Export..."',
              "wait answered timeout=20000",
              "signout",
              LOADER_END]
    return "\n".join(steps)


def parleym_logs():
    """The native reader the test command builds."""
    for build in ("native", "tools"):
        path = os.path.join(SOURCE_DIR, "build", build, "tools", "parleym-logs", "parleym-logs")
        if os.path.exists(path):
            return path
    raise RuntimeError("no parleym-logs: build it first (scripts/build.sh native parleym-logs)")


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


class CodePagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.program = parleym_logs()
        shutil.rmtree(os.path.join(cls.bench.drive_c, "ParleymBench", "codepages-export"), ignore_errors=True)
        cls.runs = {}
        chosen = os.environ.get("PARLEYM_CODEPAGES")
        for index, (page, locale, who, name, line, reply, query, found) in enumerate(PAGES):
            if chosen and str(page) not in chosen.split(","):
                continue
            who, name, line, reply = (as_typed(page, t) for t in (who, name, line, reply))
            folder = export_folder(page, name)
            text_format = index % 2 == 1  # half the pages export text, half HTML
            result = cls.bench.run(
                scenario(page, who, name, line, reply, query, folder, text_format), messenger="wm",
                name="codepage-%d" % page, windows_version="winxp", locale=locale + ".UTF-8",
                data_files={"users.dat": cls.bench.fresh_users_dat()}, extra_files=cls.bench.viewer_pilot())
            cls.runs[page] = dict(result=result, who=who, name=name, line=line, reply=reply, query=query,
                                  found=found, folder=cls.linux_path(folder), text_format=text_format)
        cls.bench.clear_windows_version("wm")

    @classmethod
    def linux_path(cls, windows_path):
        return os.path.join(cls.bench.drive_c, *windows_path[3:].split("\\"))

    def each(self, check):
        for page, run in self.runs.items():
            with self.subTest(page=page):
                check(page, run)

    def tool(self, *arguments):
        done = subprocess.run([self.program] + list(arguments), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=60)
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")

    def test_each_page_is_logged_and_read_back(self):
        def check(page, run):
            result = run["result"]
            self.assertTrue(result.ok, result.describe())
            self.assertEqual(result.failures(), [], result.describe())
            logs = os.path.join(result.data_dir, "logs.dat")
            status, out, err = self.tool("show", logs, ME, "1")
            self.assertEqual(status, 0, err)
            self.assertIn("Conversation with %s\n" % run["who"], out)
            # Emoticons show as their codes, or as "[picture]" where the cache knows none.
            self.assertRegex(out, "%s says:\n%s (:-\\)|\\[picture\\])\n" % (re.escape(run["name"]),
                                                                             re.escape(run["line"])))
            self.assertIn("Me Myself says:\n%s\n" % run["reply"], out)
            if page == MIXED_PAGE:
                self.assertRegex(out, re.escape(MIXED).replace(re.escape(":-)"), r"(:-\)|\[picture\])")
                                 .replace(re.escape("(Y)"), r"(\(Y\)|\[picture\])"))
        self.each(check)

    def test_find_selects_the_word_in_any_case(self):
        def check(page, run):
            searches = [("found", run["query"], run["found"])]
            if page == MIXED_PAGE:
                searches.append(("mixed", MIXED_QUERY, MIXED_FOUND))
            # The pane shows the history as the messenger showed it: its text, each
            # emoticon one character, is what the stand-in last saw there.
            history = run["result"].last("history conv:%s " % run["who"])
            pane = re.sub(r"\{[^{}]*\}", "\ufffc", unquote(history)[0])
            for file, query, found in searches:
                with open(os.path.join(run["result"].data_dir, file + "-selection.txt")) as f:
                    start, end = (int(n) for n in f.read().split())
                # The span the viewer selected, in its positions (UTF-16 units, one per
                # paragraph end), is the first match of the word, whatever its case.
                units = pane.encode("utf-16-le")
                selected = units[2 * start:2 * end].decode("utf-16-le")
                self.assertEqual(selected, found, "searched for %r in %r" % (query, pane))
                self.assertEqual(fold(selected, page), fold(query, page))
                self.assertEqual(start, utf16_length(pane[:pane.index(found)]), pane)
        self.each(check)

    def test_the_viewer_exports_utf8(self):
        def check(page, run):
            folder = run["folder"]
            told = [line for line in run["result"].lines if 'caption="Parleym"' in line and "Exported 1 " in line]
            self.assertTrue(told, run["result"].describe())
            if run["text_format"]:
                with open(os.path.join(folder, "index.txt"), "rb") as f:
                    index = f.read()
                self.assertTrue(index.startswith(b"\xEF\xBB\xBF"))
                link = index.decode("utf-8").rstrip("\r\n").split("\t")[-1]
            else:
                with open(os.path.join(folder, "index.html"), encoding="utf-8") as f:
                    index = f.read()
                self.assertIn('<meta charset="utf-8">', index)
                self.assertIn(run["name"], index)
                link = index.split('<a href="', 1)[1].split('"', 1)[0]
            # The name the index links is the file's, in the script where the page has it.
            path = os.path.join(folder, *link.split("/"))
            self.assertTrue(os.path.isfile(path), "%s links %s" % (folder, link))
            if page in (1251, 932):
                self.assertIn(run["who"].split("@")[0], link)
            with open(path, "rb") as f:
                data = f.read()
            text = data.decode("utf-8")
            if run["text_format"]:
                self.assertTrue(data.startswith(b"\xEF\xBB\xBF"))
                self.assertIn(run["line"], text)
            else:
                self.assertIn('<meta charset="utf-8">', text)
                self.assertIn(run["line"].replace("'", "&#39;"), text)
            self.assertIn(run["reply"], text)
        self.each(check)

    def test_parleym_logs_lists_searches_and_exports(self):
        def check(page, run):
            logs = os.path.join(run["result"].data_dir, "logs.dat")
            status, out, err = self.tool("list", logs)
            self.assertEqual((status, err), (0, ""))
            self.assertIn("%s: 1 conversation\n" % ME, out)
            self.assertTrue(out.rstrip("\n").endswith("  " + run["who"]), out)
            status, out, err = self.tool("search", logs, run["query"])
            self.assertEqual(status, 0, err)
            self.assertIn(run["found"], out)
            self.assertIn("  %s  " % run["who"], out)
            target = tempfile.mkdtemp(prefix="parleym-codepages-")
            try:
                for arguments in ((), ("--text",)):
                    folder = os.path.join(target, "text" if arguments else "html")
                    status, out, err = self.tool("export", logs, folder, *arguments)
                    self.assertEqual(status, 0, err)
                    conversations = os.path.join(folder, ME)
                    (name,) = os.listdir(conversations)
                    with open(os.path.join(conversations, name), "rb") as f:
                        data = f.read()
                    self.assertEqual(data.startswith(b"\xEF\xBB\xBF"), bool(arguments))
                    self.assertIn(run["line"].replace("'", "&#39;") if not arguments else run["line"],
                                  data.decode("utf-8"))
            finally:
                shutil.rmtree(target, ignore_errors=True)
            # A page the user names reads the names in it instead.
            if page == 1251:
                status, out, err = self.tool("--codepage", "1253", "list", logs)
                self.assertEqual(status, 0, err)
                self.assertNotIn(run["who"], out)
                self.assertEqual(self.tool("--codepage", "1234", "list", logs)[0], 2)
        self.each(check)


if __name__ == "__main__":
    unittest.main()
