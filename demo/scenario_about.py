"""The About box."""
import os
import re

from driver import LOADER_END, LOADER_START
from tour import ROOT, check

TITLE = "The About box"
REQUIRES = ["plugin/about/AboutDlg.cpp"]

SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
open bob@parleym.example
wait menu conv:bob@parleym.example Parleym timeout=10000
answer caption=About delay=500 screenshot=about button=OK
menu conv:bob@parleym.example Parleym "About Parleym..."
wait answered timeout=10000
''' + LOADER_END


def run_options(ctx):
    return ctx.run_options("msn")


def steps(result, ctx):
    about = [l for l in result.lines if l.startswith('dialog caption="About"')]
    text = about[0] if about else ""
    header = open(os.path.join(ROOT, "shared", "Version.h")).read()
    version = "Parleym %s.%s" % tuple(re.search(r"PARLEYM_VERSION_%s (\d+)" % p, header).group(1)
                                      for p in ("MAJOR", "MINOR"))
    return [
        dict(title="About Parleym", shot="about",
             story="In MSN Messenger, the user opened a conversation window and chose \"About Parleym...\" "
                   "from its Parleym menu. Parleym showed its About box with the version and two links.",
             checks=[check("the About box came up in the messenger's process", "own=yes" in text),
                     check("it names \"%s\" (shared/Version.h)" % version, version in text),
                     check("it shows the product's web address", "https://parleym.example/" in text)]),
    ]
