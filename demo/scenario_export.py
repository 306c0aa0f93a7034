"""Exporting the logged conversations from the log viewer as HTML pages with pictures."""
import html.parser
import os
import shutil

import olefile

from streams import log_index
from driver import LOADER_END, LOADER_START
from scenarios import OPEN_VIEWER
from tour import check

TITLE = "Exporting logs"
REQUIRES = ["plugin/logging/LogViewerExport.cpp"]
FOLDER = "Parleym tour export"  # under C:\, made by the export itself

SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "Hi there :-) how are you (Y)"
type bob@parleym.example "fine :-) thanks"
enter bob@parleym.example
wait history bob@parleym.example thanks
open carol@parleym.example
receive carol@parleym.example "Lunch at <noon> & after? :-)"
''' + OPEN_VIEWER + r'''# The user chooses File, Export..., all logs as HTML, into a folder of their own.
# (The button's id: the dialog's group box is called "Export" too.)
answer 4153 caption="Export logs" again=yes
answer 1 caption="Export logs" edit=4161:"C:\\{folder}" screenshot=export-dialog
answer OK caption=Parleym text=Exported screenshot=export-done
menu class:ParleymFwWindow File "Export..."
wait answered timeout=20000
signout
'''.replace("{folder}", FOLDER) + LOADER_END


def run_options(ctx):
    # A folder left by an earlier tour would let an export that wrote nothing look fine.
    shutil.rmtree(os.path.join(ctx.bench.drive_c, FOLDER), ignore_errors=True)
    return ctx.run_options("wm")


class Page(html.parser.HTMLParser):
    """Links, pictures and text of one page; `balanced` when every element closes in order."""
    VOID = {"meta", "img", "br", "link", "input", "hr"}

    def __init__(self, path):
        super().__init__(convert_charrefs=True)
        self.links, self.pictures, self.text, self.open, self.balanced = [], [], [], [], True
        with open(path, encoding="utf-8") as f:
            self.feed(f.read())
        self.close()
        self.balanced = self.balanced and not self.open

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "a" and "href" in attrs:
            self.links.append(attrs["href"])
        if tag == "img":
            self.pictures.append(attrs.get("src", ""))
        if tag not in self.VOID:
            self.open.append(tag)

    def handle_endtag(self, tag):
        if not self.open or self.open.pop() != tag:
            self.balanced = False

    def handle_data(self, data):
        self.text.append(data)


def steps(result, ctx):
    folder = os.path.join(ctx.bench.drive_c, FOLDER)
    numbers = []
    try:
        logs = olefile.OleFileIO(os.path.join(result.data_dir, "logs.dat"))
        try:
            numbers = [e["number"] for e in log_index(logs)[1][2]]
        finally:
            logs.close()
    except Exception:  # an unreadable log fails the checks below
        numbers = []
    index = pages = None
    problems = []
    try:
        index = Page(os.path.join(folder, "index.html"))
        pages = {}
        for link in index.links:
            page = Page(os.path.join(folder, link))
            pages[link] = page
            for picture in page.pictures:
                if not os.path.isfile(os.path.join(os.path.dirname(os.path.join(folder, link)), picture)):
                    problems.append(picture)
    except Exception as error:
        problems.append(str(error))
    links = index.links if index else []
    texts = {link: "".join(page.text) for link, page in (pages or {}).items()}
    pictures = sum(len(page.pictures) for page in (pages or {}).values())
    done = [line.replace("\\\\", "\\") for line in result.lines
            if line.startswith('box caption="Parleym"') and "Exported" in line]
    return [
        dict(title="Choosing what to export and where", shot="export-dialog",
             story="In the log viewer the user chose File, \"Export...\". Parleym asked what to export: the "
                   "conversation on show, the selected day or contact, or all logs of the account; as HTML "
                   "pages with pictures or as plain text; and into which folder (Browse... opens the folder "
                   "picker). The user chose all logs as HTML into C:\\%s." % FOLDER,
             checks=[check("the \"Export logs\" dialog was shown and answered",
                           any("Export logs" in line for line in result.lines))]),
        dict(title="The export is done: an index page and one page per conversation", shot="export-done",
             story="Parleym wrote the pages in slices on the messenger's own thread, with a progress window "
                   "the user could cancel, then said how many conversations it exported and where. "
                   "index.html lists every conversation with its contact and dates; each page shows the "
                   "conversation with its emoticons as picture files.",
             checks=[check("Parleym said: \"Exported %d conversations to C:\\%s.\"" % (len(numbers), FOLDER),
                           any("Exported %d conversations to C:\\%s." % (len(numbers), FOLDER) in line
                               for line in done)),
                     check("index.html parses as HTML and lists every logged conversation once",
                           index is not None and index.balanced and len(numbers) == 2 and
                           len(links) == len(set(links)) == len(numbers) and
                           sorted(int(os.path.basename(link).split("-")[0]) for link in links) == sorted(numbers)),
                     check("every page parses and shows what was said, markup in it as text",
                           pages is not None and all(page.balanced for page in pages.values()) and
                           any("fine" in text and "thanks" in text for text in texts.values()) and
                           any("Lunch at <noon> & after?" in text for text in texts.values())),
                     check("the emoticons are pictures on the pages, and every picture file referenced exists",
                           pictures >= 3 and not problems)]),
    ]
