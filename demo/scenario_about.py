"""The About box."""
import os
import re

from tour import ROOT, check

TITLE = "The About box"
REQUIRES = ["plugin/about/AboutDlg.cpp"]

SCENARIO = r'''
wait no-window ParleymLdrClass timeout=10000
spawn ParleymLdr.exe
wait sinks 1 timeout=30000
wait menu main Parleym timeout=10000
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
open bob@parleym.example
wait menu conv:bob@parleym.example Parleym timeout=10000
answer caption=About delay=500 screenshot=about button=OK
menu conv:bob@parleym.example Parleym "About Parleym..."
wait answered timeout=10000
post class:ParleymLdrClass 16
wait no-window ParleymLdrClass timeout=10000
exit
'''


def run_options(ctx):
    return dict(messenger="msn", windows_version="win2k", data_files={"users.dat": ctx.fresh_users_dat()})


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
