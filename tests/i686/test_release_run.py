#!/usr/bin/python3
"""The i686 release exactly as dist/ holds it (stripped), in the 32-bit stand-in messenger
under 32-bit Wine: the tour's own scenarios and checks for the features a user meets first
(the loader and its tray menu, the plug-in loaded by the hook library with the messenger's
imports patched, a conversation with emoticons logged and read back with olefile, the log
viewer, lock and unlock, an offline message, a broadcast, a forward, sign-out and exit with
the stores saved), and the shipped plug-in catching an exception of its own inside a COM
event. Runs inside a session of scripts/i686/run.sh (scripts/test.sh starts one); the
screenshots and transcripts land in build/i686-run/."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "demo"))

import tour  # noqa: E402
from driver import LOADER_END, LOADER_START, Bench  # noqa: E402

FEATURES = ["tray", "logging", "lock", "offline", "broadcast", "forward"]
OUT = os.path.join(SOURCE_DIR, "build", "i686-run")

# A failing Messenger API call makes the plug-in throw inside the OnSignin event and
# catch it there (i686: its own unwinder, its own frames); the user sees the error and
# the messenger goes on with Parleym working.
THROWN_AND_CAUGHT = LOADER_START + r'''
fail get_MyContacts 0x80004005
answer caption=Error text="Failed to retrieve contacts list" button=OK
signin me@parleym.example "Me Myself"
wait answered timeout=10000
fail get_MyContacts 0x80004005 count=0
add-contact bob@parleym.example "Bob B" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "still here :-)"
sleep 500
signout
sleep 300
''' + LOADER_END


def failed_checks(entry):
    return ["%s: %s" % (step["title"], label) for step in entry["steps"] for label, ok in step["checks"] if not ok]


class ReleaseRun(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.environ.get("PARLEYM_I686_ROOT"):
            raise RuntimeError("runs inside a session of scripts/i686/run.sh (scripts/test.sh starts one)")
        os.makedirs(OUT, exist_ok=True)
        cls.ctx = tour.Context(Bench(), SOURCE_DIR)

    def test_the_tours_scenarios(self):
        for name in FEATURES:
            with self.subTest(feature=name):
                entry = tour.run_feature(name, self.ctx, OUT)
                self.assertEqual(entry["status"], "ran", entry["note"])
                self.assertTrue(entry["steps"], name)
                self.assertEqual(failed_checks(entry), [], entry["note"])

    def test_the_plugin_catches_what_it_throws(self):
        r = self.ctx.bench.run(THROWN_AND_CAUGHT, name="thrown", timeout=120, **self.ctx.run_options("wm"))
        self.assertTrue(r.ok, r.describe())
        boxes = r.lines_starting('box caption="Error"')
        self.assertEqual(len(boxes), 1, r.describe())
        self.assertIn("Code: 0x80004005", boxes[0])
        self.assertIn("still here", r.last("history conv:bob@parleym.example") or "")


if __name__ == "__main__":
    unittest.main()
