#!/usr/bin/python3
"""Forwarding a conversation as it goes on, end to end in the stand-in messenger with the
real loader, hook library and plug-in, for both messengers. Screenshots are kept in the
run's output folder."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

import olefile  # noqa: E402
from benchtest import LOADER_END, bench  # noqa: E402
from scenarios import forward, signed_in  # noqa: E402
from streams import log_index  # noqa: E402

BOB, CAROL, DAVE = "bob@parleym.example", "carol@parleym.example", "dave@parleym.example"

SCENARIO = "option window-states\n" + signed_in((BOB, "Bob B", "ONLINE"), (CAROL, "Carol C", "ONLINE"),
                                               (DAVE, "Dave D", "ONLINE")) + r'''open bob@parleym.example
receive bob@parleym.example "said before"
# ---- forward Bob's conversation to Carol
''' + forward(BOB, CAROL, "Carol C") + r'''receive bob@parleym.example "first"
type bob@parleym.example "my reply"
enter bob@parleym.example
# Blank lines the messenger writes between two messages are not forwarded and
# leave the pairing of the next message's two pieces alone.
note bob@parleym.example "\n\n"
receive bob@parleym.example "third"
# A message with pictures comes in several insertions and a notice in one: each
# goes on whole and alone, and the next message is paired as before.
receive bob@parleym.example "smile :-) and (Y) here"
note bob@parleym.example "Bob B is away.\n"
receive bob@parleym.example "fourth"
screenshot forward-source
post conv:carol@parleym.example 274 61728
screenshot forward-target
# Already forwarding: the command does nothing.
post conv:bob@parleym.example 273 30004
# The forward window's own conversation forwarded back to Bob: what forwarding
# writes into either window is not forwarded again.
''' + forward(CAROL, BOB, "Bob B") + r'''receive bob@parleym.example "ping"
receive carol@parleym.example "pong"
menu conv:carol@parleym.example Parleym "Cancel forward"
post conv:bob@parleym.example 274 61728
# The forward window closed mid-way is opened again.
close carol@parleym.example
receive bob@parleym.example "after close"
menu conv:bob@parleym.example Parleym "Cancel forward"
receive bob@parleym.example "not forwarded"
# ---- forward to Dave; Bob going offline ends it
''' + forward(BOB, DAVE, "Dave D") + r'''status bob@parleym.example OFFLINE
# An offline-message window is not forwarded.
answer OK caption=Error text="You can not forward offline messages"
menu conv:bob@parleym.example Parleym "Forward conversation..."
wait answered timeout=5000
# Dave's window is forwarded to Carol; Dave signs out inside the click that sends
# the header, which ends forwarding there.
''' + forward(DAVE, CAROL, "Carol C") + r'''in-send carol@parleym.example status dave@parleym.example OFFLINE
receive dave@parleym.example "last words"
signout
''' + LOADER_END


class MessagingInStandinTest(unittest.TestCase):
    MESSENGER = "wm"
    WINDOWS = "winxp"

    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(SCENARIO, messenger=cls.MESSENGER,
                                   deliverables=True, loader=False, name="messaging-" + cls.MESSENGER,
                                   windows_version=cls.WINDOWS, data_files={"users.dat": cls.bench.fresh_users_dat()})

    @classmethod
    def tearDownClass(cls):
        cls.bench.clear_windows_version(cls.MESSENGER)

    def test_scenario_ran(self):
        self.assertTrue(self.result.ok, self.result.describe())
        self.assertFalse(self.result.lines_starting("box-unexpected"), self.result.describe())

    def test_forwarded_lines_reach_the_target_in_pairs_with_one_header(self):
        # Nothing said before the start, no blank lines, nothing after Cancel; one header
        # though the window was opened a second time.
        self.assertEqual(self.result.sent(CAROL), [
            "[Forward conversation with Bob B]",
            "[FW] Bob B says: first",
            "[FW] Me Myself says: my reply",
            "[FW] Bob B says: third",
            "[FW] Bob B says: smile   and   here",
            "[FW] Bob B is away.",
            "[FW] Bob B says: fourth",
            "[FW] Bob B says: ping",
            "[FW] Bob B says: after close",
            "[Forward conversation with Dave D]",
        ], self.result.describe())
        # Dave's going offline inside that click ended forwarding: his window takes offline messages.
        self.assertEqual(self.result.titles(DAVE)[-1], "Dave D - Offline message")
        self.assertEqual(self.result.sent(DAVE), [], self.result.describe())
        self.assertEqual(len(self.result.lines_starting("window-created conv:" + CAROL)), 2)
        self.assertEqual(len(self.result.lines_starting("window-created conv:" + DAVE)), 1)
        # The forward window opens minimised.
        self.assertIn("state conv:%s enabled=yes minimized=yes" % CAROL, self.result.lines)

    def test_windows_forwarding_to_each_other_do_not_echo(self):
        # Carol's window forwarded back to Bob's: Bob's "ping" went to Carol once, Carol's
        # "pong" to Bob once, and neither came back.
        self.assertEqual(self.result.sent(BOB), [
            "my reply",
            "[Forward conversation with Carol C]",
            "[FW] Carol C says: pong",
        ], self.result.describe())
        self.assertIn("Carol C - Conversation(Forward to Bob B)", self.result.titles(CAROL))
        self.assertEqual(self.result.titles(CAROL)[-1], "Carol C - Conversation")

    def test_source_contact_is_not_offered_and_window_shows_forwarding(self):
        dialogs = [l for l in self.result.lines if l.startswith("dialog ") and "Forward conversation" in l]
        # Bob's window to Carol, Carol's to Bob, Bob's to Dave, Dave's to Carol: "Forward
        # conversation..." while forwarding and in the offline-message window opened no picker.
        self.assertEqual(len(dialogs), 4, dialogs)
        for line, source, offered in ((dialogs[0], BOB, CAROL), (dialogs[1], CAROL, BOB), (dialogs[2], BOB, DAVE),
                                      (dialogs[3], DAVE, CAROL)):
            self.assertIn("|" + offered + '"', line)
            self.assertNotIn(source, line)
        titles = self.result.titles(BOB)
        # Cancel gives the title back; the contact going offline hands the window to
        # the offline-message handler.
        to_carol = titles.index("Bob B - Conversation(Forward to Carol C)")
        to_dave = titles.index("Bob B - Conversation(Forward to Dave D)")
        self.assertIn("Bob B - Conversation", titles[to_carol + 1:to_dave], titles)
        self.assertEqual(titles[-1], "Bob B - Offline message", titles)
        menus = [l for l in self.result.lines if l.startswith("menubar conv:%s " % BOB)]
        self.assertTrue(any("Parleym[Cancel forward|" in l for l in menus), menus)
        self.assertIn("Parleym[Forward conversation...|", menus[-1])
        self.assertNotIn("Cancel forward", menus[-1])
        boxes = [l for l in self.result.lines if l.startswith("box ") and "You can not forward offline messages" in l]
        self.assertEqual(len(boxes), 1, self.result.describe())
        self.assertIn('caption="Error"', boxes[0])

    def test_logging_goes_on_in_the_same_stream(self):
        logs = olefile.OleFileIO(os.path.join(self.result.data_dir, "logs.dat"))
        try:
            account, (_, _, entries) = log_index(logs)
            numbers = [e["number"] for e in entries if e["contact"] == BOB]
            self.assertEqual(len(numbers), 1, numbers)
            text = logs.openstream([account, str(numbers[0])]).read().decode("latin-1")
            for said in ("said before", "first", "third", "ping", "not forwarded"):
                self.assertIn(said, text)
        finally:
            logs.close()


class MessagingInMsnStandinTest(MessagingInStandinTest):
    MESSENGER = "msn"
    WINDOWS = "win2k"


if __name__ == "__main__":
    unittest.main(verbosity=2)
