"""The loader's tray icon and its menu."""
import os

import olefile

from driver import LOADER_START
from streams import log_index, message_content
from tour import check

TITLE = "The tray icon and its menu"
REQUIRES = ["loader/Loader.cpp", "loader/PluginMenu.cpp"]

# The shell tells the loader of a right-click on its icon with message 1124 and
# WM_RBUTTONUP (517); the open menu takes keys (WM_KEYDOWN 256: up 38, return 13).
OPEN_TRAY_MENU = '''post class:ParleymLdrClass 1124 1 517
wait window #32768 timeout=5000
sleep 500'''

SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "hello from Bob :-)"
''' + OPEN_TRAY_MENU + r'''
screenshot tray-menu
# Up twice from the bottom is "About Parleym...", above "Exit": the loader sends it on
# to the plug-in in the messenger.
answer caption=About delay=500 screenshot=about button=OK
post class:#32768 256 38 0
post class:#32768 256 38 0
post class:#32768 256 13 0
wait answered timeout=10000
''' + OPEN_TRAY_MENU + r'''
post class:#32768 256 38 0
post class:#32768 256 13 0
wait no-window ParleymLdrClass timeout=10000
sleep 300
screenshot exited
exit
'''


def run_options(ctx):
    return ctx.run_options("wm")


def waited(result, what):
    return any(l.startswith("wait-ok " + what) for l in result.lines)


def logged_with_bob(result):
    """Bob's conversation as logs.dat holds it once the messenger has ended: (text, objects)."""
    try:
        with olefile.OleFileIO(os.path.join(result.data_dir, "logs.dat")) as logs:
            account, (_, _, index) = log_index(logs)
            for entry in index:
                if entry["contact"] == "bob@parleym.example":
                    _, text, objects = message_content(logs.openstream([account, str(entry["number"])]).read())
                    return text, objects
    except Exception:  # an unreadable file fails the check
        pass
    return "", []


def steps(result, ctx):
    about = [l for l in result.lines if l.startswith('dialog caption="About"')]
    text, objects = logged_with_bob(result)
    return [
        dict(title="The tray menu", shot="tray-menu",
             story="The user right-clicked Parleym's icon in the notification area. The loader showed its "
                   "menu: Enable, the plug-in's commands, Exit.",
             checks=[check("a popup menu came up", waited(result, "window"))]),
        dict(title="A tray command reaches the plug-in in the messenger", shot="about",
             story="The user chose \"About Parleym...\" in the tray menu. The loader passed the command to "
                   "the plug-in inside the messenger, which showed its About box there.",
             checks=[check("the About box came up in the messenger's process",
                           about and "own=yes" in about[0])]),
        dict(title="Exit from the tray", shot="exited",
             story="The user chose \"Exit\". The loader took its hooks away and ended; its icon is gone "
                   "and the messenger goes on. When the messenger ended, Parleym (still inside it) saved "
                   "its stores.",
             checks=[check("the loader's window is gone", waited(result, "no-window") and result.ok),
                     check("logs.dat holds Bob's line with its emoticon",
                           "hello from Bob" in text and len(objects) == 1)]),
    ]
