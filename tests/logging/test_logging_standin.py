#!/usr/bin/python3
"""Conversation logging end to end in the stand-in messenger with the real hook
library, loader and plug-in: what lands in logs.dat and objcache.dat, and what
the log viewer shows of it. Screenshots are kept in the run's output folder."""
import os
import shutil
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

import olefile  # noqa: E402
from benchtest import LOADER_END, bench, history_positions, unquote  # noqa: E402
from scenarios import LOGGING_BACK_ON_AND_VIEWER, signed_in  # noqa: E402
from streams import conversation_index as read_index, log_index  # noqa: E402
from streams import message_content as read_content, shown_text  # noqa: E402

QUESTION = ("If you enable logging all current conversation will be logged (including content "
            "when logging was off). Are you sure you want to continue?")

SCENARIO = signed_in(("bob@parleym.example", "Bob B", "ONLINE"), ("carol@parleym.example", "Carol C", "ONLINE")) + r'''open bob@parleym.example
receive bob@parleym.example "Hi there :-) how are you (Y)"
{my_reply}
wait history bob@parleym.example thanks
# Bob goes offline and comes back: the window's handler is replaced twice.
status bob@parleym.example OFFLINE
status bob@parleym.example ONLINE
receive bob@parleym.example "back again"
screenshot conversation
''' + LOGGING_BACK_ON_AND_VIEWER + '''# Signing out writes the account's index.
signout
''' + LOADER_END


class LoggingInStandinTest(unittest.TestCase):
    MESSENGER = "wm"  # history and input are RichEdit20W
    WINDOWS = "winxp"  # the version the hook library starts the plug-in on for this client
    MY_REPLY = 'type bob@parleym.example "fine :-) thanks"\nenter bob@parleym.example'

    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(
            SCENARIO.replace("{my_reply}", cls.MY_REPLY), messenger=cls.MESSENGER, deliverables=True, loader=False, name="logging-" + cls.MESSENGER,
            windows_version=cls.WINDOWS,
            data_files={"users.dat": cls.bench.fresh_users_dat()}, extra_files=cls.bench.viewer_pilot())
        cls.logs = olefile.OleFileIO(os.path.join(cls.result.data_dir, "logs.dat"))
        cls.cache = olefile.OleFileIO(os.path.join(cls.result.data_dir, "objcache.dat"))
        cls.account, (cls.next_number, cls.enabled, cls.index) = log_index(cls.logs)

    @classmethod
    def tearDownClass(cls):
        cls.logs.close()
        cls.cache.close()
        cls.bench.clear_windows_version(cls.MESSENGER)

    def history(self, contact):
        """Text and pictures of the contact's history as last reported."""
        marked, rest = unquote(self.result.last("history conv:%s" % contact))
        return marked

    def content(self, contact):
        numbers = [entry["number"] for entry in self.index if entry["contact"] == contact]
        self.assertEqual(len(numbers), 1, self.index)
        return read_content(self.logs.openstream([self.account, str(numbers[0])]).read())

    def test_scenario_ran(self):
        self.assertTrue(self.result.ok, self.result.describe())
        self.assertEqual(self.result.failures(), [], self.result.describe())

    def test_one_entry_and_stream_per_window_kept_across_handler_swaps(self):
        self.assertEqual(sorted(e["contact"] for e in self.index),
                         ["bob@parleym.example", "carol@parleym.example"])
        streams = sorted(p[1] for p in self.logs.listdir() if p[0] == self.account and p[1] != "conversations")
        self.assertEqual(streams, sorted(str(e["number"]) for e in self.index))
        self.assertEqual(self.enabled, 1)
        self.assertEqual(self.next_number, max(e["number"] for e in self.index) + 1)
        for entry in self.index:
            self.assertLess(entry["start"], entry["end"] + 1e-9)
        # What Bob said after coming back went into the same conversation.
        is_rtf, text, objects = self.content("bob@parleym.example")
        self.assertEqual(is_rtf, 1)
        self.assertTrue(text.startswith("{\\rtf"), text[:20])
        self.assertIn("back again", text)
        self.assertIn("thanks", text)

    def test_pictures_stored_at_their_places_and_once_in_the_cache(self):
        _, _, objects = self.content("bob@parleym.example")
        expected = history_positions(self.history("bob@parleym.example"))
        self.assertEqual([position for position, _ in objects], [position for position, _ in expected])
        keys = {code: key for (_, code), (_, key) in zip(expected, objects)}
        self.assertEqual(len(keys), 2, objects)  # ":-)" twice shares one key
        self.assertEqual(objects[0][1], objects[2][1])
        # Carol's smiley, captured later, is the same stored picture.
        self.assertEqual(self.content("carol@parleym.example")[2][0][1], keys[":-)"])
        storages = {path[0] for path in self.cache.listdir(storages=True, streams=False) if len(path) == 1}
        self.assertEqual(storages, set(keys.values()))

    def test_logging_switch_asks_first_then_stores_what_the_window_shows(self):
        self.assertTrue([line for line in self.result.lines
                         if line.startswith('box caption="Parleym"') and QUESTION in line], self.result.describe())
        _, text, objects = self.content("carol@parleym.example")
        self.assertIn("said while logging was off", text)
        self.assertIn("said after", text)
        self.assertEqual(len(objects), 1)

    def test_viewer_shows_the_logged_conversation_in_both_groupings(self):
        expected = shown_text(self.history("bob@parleym.example"))
        for name in ("pane-by-date.txt", "pane-by-user.txt"):
            path = os.path.join(self.result.data_dir, name)
            self.assertTrue(os.path.exists(path), self.result.describe())
            with open(path, "rb") as f:
                pane = f.read().decode("latin-1").replace("\r\n", "\n").replace("\r", "\n")
            self.assertEqual(pane.rstrip("\n"), expected.rstrip("\n"), name)
        shots = [os.path.basename(p) for p in self.result.screenshots()]
        for shot in ("conversation.bmp", "viewer-by-date.bmp", "viewer-by-user.bmp"):
            self.assertIn(shot, shots)


class LoggingInMsnStandinTest(LoggingInStandinTest):
    MESSENGER = "msn"  # history and input are RichEdit20A
    WINDOWS = "win2k"  # run in the compatibility layer the installation sets


if __name__ == "__main__":
    unittest.main()
