#!/usr/bin/python3
"""The plug-in in the stand-in messenger, loaded through the real loader and hook
library: its "Parleym" popups in the main and conversation windows, and the About
box opened from a popup, and the contact list's "Send offline message...". Screenshots of both stay in the run's output folder."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))

from driver import Bench  # noqa: E402

MAIN_POPUP = ('Parleym[Broadcast message...|Send offline message...|Statistics...|-|Set password...|'
              'Auto lock messenger')
CONVERSATION_POPUP = 'Parleym[Forward conversation...|-|About Parleym...]'

# The messenger starts without its user-interface manager, so the plug-in asks the
# loader to come back later (command 20000). Where Windows would unmap the hook
# library once the loader removed its hooks, the stand-in frees it itself; the
# loader's reinstalled hooks then load the plug-in again, now with a Messenger.
SCENARIO = r'''
option no-ui-manager
signin alice@example.com Alice
add-contact bob@example.com Bob status=ONLINE
add-contact carol@example.com Carol status=OFFLINE
wait module ParleymPlugin.dll timeout=20000
sleep 500
free-library ParleymHk.dll
wait no-module ParleymPlugin.dll timeout=5000
ui-manager
wait sinks 1 timeout=20000
open bob@example.com
wait menu main Parleym timeout=10000
wait menu conv:bob@example.com Parleym timeout=10000
dump
screenshot menus
menu conv:bob@example.com Parleym "About Parleym..."
sleep 500
wait no-window #32770 About timeout=10000
context-menu bob@example.com "Send offline message..."
context-menu carol@example.com "Send offline message..."
wait conv carol@example.com timeout=10000
close bob@example.com
wait no-conv bob@example.com timeout=5000
post class:ParleymLdrClass 273 105 0
wait no-window ParleymLdrClass "Parleym Loader"
exit
'''

# The Windows version each messenger runs the plug-in under.
WINDOWS_VERSION = {"wm": "winxp", "msn": "win2k"}


def empty_users_file(bench):
    """users.dat without accounts, written by the build's own tool."""
    tool = bench.built("tools/users-dat.exe")
    if not tool:
        raise unittest.SkipTest("users-dat.exe not built")
    folder = tempfile.mkdtemp(prefix="parleym-core-", dir=os.path.join(bench.drive_c, "users"))
    path = os.path.join(folder, "users.dat")
    subprocess.run(["/usr/bin/wine", tool, "create", bench.windows_path(path)], env=bench.env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    with open(path, "rb") as f:
        return f.read()


class AboutBoxCamera(threading.Thread):
    """The About box is modal, so the scenario cannot photograph it: this watches the
    run's transcript from outside and takes the screen while the box is up."""

    def __init__(self, bench, run_prefix):
        super().__init__(daemon=True)
        self.root = os.path.join(bench.drive_c, "ParleymBench")
        self.run_prefix = run_prefix
        self.before = set(os.listdir(self.root)) if os.path.isdir(self.root) else set()
        self.stop = False
        self.saved = None

    def run(self):
        while not self.stop and not self.saved:
            time.sleep(0.1)
            runs = [n for n in (os.listdir(self.root) if os.path.isdir(self.root) else [])
                    if n.startswith(self.run_prefix) and n not in self.before]
            for run in runs:
                out = os.path.join(self.root, run, "out")
                try:
                    with open(os.path.join(out, "transcript.txt"), encoding="cp1252", errors="replace") as f:
                        if 'dialog caption="About"' not in f.read():
                            continue
                except OSError:
                    continue
                path = os.path.join(out, "about.png")
                shot = subprocess.run("xwd -root -silent | convert xwd:- png:" + path, shell=True, timeout=30)
                if shot.returncode == 0:
                    self.saved = path


class PluginMenusScenario(unittest.TestCase):
    def test_popups_and_about_box(self):
        bench = Bench()
        for messenger in ("wm", "msn"):
            with self.subTest(messenger=messenger):
                camera = AboutBoxCamera(bench, "core-menus-" + messenger)
                camera.start()
                r = bench.run(SCENARIO, messenger=messenger, loader=True, windows_version=WINDOWS_VERSION[messenger],
                              data_files={"users.dat": empty_users_file(bench)}, name="core-menus-" + messenger)
                camera.stop = True
                camera.join()
                self.assertEqual(r.failures(), [], r.describe())
                self.assertTrue(r.ok, r.describe())
                main = r.last("menubar main")
                self.assertIsNotNone(main, r.describe())
                self.assertIn(MAIN_POPUP, main)
                self.assertEqual(main.count("Parleym["), 1)
                conversation = r.last("menubar conv:bob@example.com")
                self.assertIn(CONVERSATION_POPUP, conversation)
                about = [line for line in r.lines if line.startswith('dialog caption="About"')]
                self.assertEqual(len(about), 1, r.describe())
                self.assertIn("https://parleym.example/", about[0])
                self.assertIn("own=yes", about[0])
                # The contact list's menu offers offline messages to offline contacts only.
                menus = r.lines_starting("context-menu contact=")
                self.assertIn('item="Send offline message..." grayed', menus[0])
                self.assertIn('item="Send offline message..." chosen', menus[1])
                self.assertTrue(r.lines_starting('api InstantMessage("carol@example.com")'), r.describe())
                shots = [os.path.basename(path) for path in r.screenshots()]
                self.assertIn("menus.bmp", shots)
                if shutil.which("xwd") and shutil.which("convert"):
                    self.assertIsNotNone(camera.saved, "no screenshot of the About box")
                print("screenshots:", r.out_dir)


if __name__ == "__main__":
    unittest.main()
