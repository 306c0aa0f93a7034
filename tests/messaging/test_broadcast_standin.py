#!/usr/bin/python3
"""Broadcasting one line to several contacts, end to end in the stand-in messenger with
the real loader, hook library and plug-in, for both messengers."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

from benchtest import LOADER_END, LOADER_START, bench  # noqa: E402
from scenarios import PICK_CAROL_AND_DAVE, signed_in  # noqa: E402

CAROL, DAVE = "carol@parleym.example", "dave@parleym.example"

# Every answer is given before the click that opens its box or dialog: the click's
# modal loop runs inside the step that pumps it. The picker shares the broadcast
# dialog's caption and is told apart by its prompt.
SCENARIO = signed_in(("bob@parleym.example", "Bob B", "ONLINE"), (CAROL, "Carol C", "ONLINE"),
                     (DAVE, "Dave D", "ONLINE")) + r'''# No recipients yet.
answer OK caption=Error text="You must select users before sending"
answer Send caption="Broadcast message" edit=4006:nobody-yet again=yes
menu main Parleym "Broadcast message..."
wait answered timeout=5000
''' + PICK_CAROL_AND_DAVE + r'''# First send opens both windows, the second reuses them.
answer Send caption="Broadcast message" edit=4006:hello-all again=yes screenshot=broadcast-dialog
wait answered timeout=5000
wait history carol@parleym.example hello-all timeout=5000
wait history dave@parleym.example hello-all timeout=5000
answer Send caption="Broadcast message" edit=4006:second again=yes
wait answered timeout=5000
wait history dave@parleym.example second timeout=5000
# An empty message sends nothing.
answer Send caption="Broadcast message" again=yes
wait answered timeout=5000
# A second "Broadcast message..." brings the same dialog up, recipients kept.
menu main Parleym "Broadcast message..."
# Dave's window closed between sends: only his is opened again, and when that
# fails Carol is still served.
close dave@parleym.example
wait no-conv dave@parleym.example timeout=5000
fail InstantMessage 0x80004005 count=1
answer OK caption=Error text="Failed to create conversation window"
answer Send caption="Broadcast message" edit=4006:third again=yes
wait answered timeout=5000
wait history carol@parleym.example third timeout=5000
answer Send caption="Broadcast message" edit=4006:fourth again=yes
wait answered timeout=5000
wait history dave@parleym.example fourth timeout=5000
# Keys as in any dialog: Enter in the message edit sends, Tab moves on to Send, Close.
answer caption="Broadcast message" edit=4006:by-keys
wait answered timeout=5000
# Dave's new window took the focus; the user comes back to the dialog.
press Return in=class:#32770
wait history dave@parleym.example by-keys timeout=5000
press Tab
press Tab
# Recipients signing out leave the list; the last one closes the dialog.
status carol@parleym.example OFFLINE
dump
answer Send caption="Broadcast message" edit=4006:fifth again=yes
wait answered timeout=5000
wait history dave@parleym.example fifth timeout=5000
status dave@parleym.example OFFLINE
wait no-window #32770 timeout=3000
# Escape closes it too.
menu main Parleym "Broadcast message..."
wait window #32770 "Broadcast message" timeout=3000
press Escape in=class:#32770
wait no-window #32770 timeout=3000
signout
''' + LOADER_END


class BroadcastInStandinTest(unittest.TestCase):
    MESSENGER = "wm"
    WINDOWS = "winxp"

    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(SCENARIO, messenger=cls.MESSENGER, deliverables=True, loader=False,
                                   name="broadcast-" + cls.MESSENGER, windows_version=cls.WINDOWS,
                                   data_files={"users.dat": cls.bench.fresh_users_dat()})

    @classmethod
    def tearDownClass(cls):
        cls.bench.clear_windows_version(cls.MESSENGER)

    def test_each_recipient_gets_every_line_through_its_own_window(self):
        r = self.result
        self.assertTrue(r.ok, r.describe())
        # The failed open skipped Dave's "third" only; the next send opened his window again.
        self.assertEqual(r.sent(CAROL), ["hello-all", "second", "third", "fourth", "by-keys"], r.describe())
        self.assertEqual(r.sent(DAVE), ["hello-all", "second", "fourth", "by-keys", "fifth"], r.describe())
        self.assertEqual(len(r.lines_starting("window-created conv:" + CAROL)), 1)
        self.assertEqual(len(r.lines_starting("window-created conv:" + DAVE)), 2)
        for contact, lines in ((CAROL, ("hello-all", "second", "third", "fourth")), (DAVE, ("third", "fourth"))):
            history = [l for l in r.lines if l.startswith("dump history conv:" + contact)]
            self.assertEqual(len(history), 1, history)
            for said in lines:
                self.assertEqual(said in history[0], said != "third" or contact == CAROL, (said, history[0]))

    def test_keys_work_in_the_modeless_dialog(self):
        focus = self.result.lines_starting("focus ")
        self.assertEqual(focus[:3], ['focus Edit:4006 in "Broadcast message"', 'focus Button:1 in "Broadcast message"',
                                     'focus Button:2 in "Broadcast message"'], self.result.describe())
        self.assertEqual(len(focus), 4, focus)

    def test_boxes_and_recipient_list(self):
        r = self.result
        no_users = [l for l in r.lines if l.startswith("box ") and
                    'text="You must select users before sending the message"' in l]
        # Once: the second "Broadcast message..." opened no fresh, empty dialog.
        self.assertEqual(len(no_users), 1, r.describe())
        self.assertTrue(any(l.startswith("box ") and "Failed to create conversation window. Code: 0x80004005" in l
                            for l in r.lines), r.describe())
        self.assertFalse(r.lines_starting("box-unexpected"), r.describe())
        rows = [l for l in r.lines if l.startswith('dialog caption="Broadcast message" controls=[Static:-1:"Broadcast')]
        self.assertTrue(any('["Carol C|%s", "Dave D|%s"]' % (CAROL, DAVE) in l for l in rows), rows)
        # Carol's sign-out took her row away and left the dialog open for Dave ("fifth").
        self.assertTrue(any('SysListView32:4002:""["Dave D|%s"]' % DAVE in l for l in rows), rows)
        # Opened again after the last recipient left: a fresh, empty list.
        self.assertIn('SysListView32:4002:""[]', rows[-1])


class BroadcastInMsnStandinTest(BroadcastInStandinTest):
    MESSENGER = "msn"
    WINDOWS = "win2k"


# The messenger plays rough around the dialog: contacts deleted and added again,
# recipients leaving while the picker or a box is up, a sign-out with the picker up.
ROUGH = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=ONLINE
add-contact dave@parleym.example "Dave D" status=ONLINE
add-contact eve@parleym.example "Eve E" status=ONLINE
add-contact fay@parleym.example "Fay F" status=ONLINE
add-contact gus@parleym.example "Gus G" status=ONLINE
add-contact zed@parleym.example "Zed Z" status=ONLINE
remove-contact zed@parleym.example
remove-contact bob@parleym.example
add-contact bob@parleym.example "Bob B" status=ONLINE
menu main Parleym "Broadcast message..."
wait window #32770 "Broadcast message" timeout=3000
# Eve signs out while the picker is up and is chosen anyway.
modal-steps on
answer OK caption="Broadcast message" text="Select users to broadcast" select="Carol C" select="Dave D" select="Eve E" delay=1000
answer "Select users" caption="Broadcast message" again=yes
status eve@parleym.example OFFLINE
wait answered timeout=5000
modal-steps off
answer OK caption=Parleym text="not sent" screenshot=broadcast-not-reached
answer Send caption="Broadcast message" edit=4006:hello-all again=yes
wait answered timeout=5000
wait history carol@parleym.example hello-all timeout=5000
wait history dave@parleym.example hello-all timeout=5000
# The last recipients leave while the picker is up: the dialog stays for the new ones.
modal-steps on
answer OK caption="Broadcast message" text="Select users to broadcast" select="Bob B" select="Fay F" select="Gus G" delay=1000
answer "Select users" caption="Broadcast message" again=yes
status carol@parleym.example OFFLINE
status dave@parleym.example OFFLINE
wait answered timeout=5000
modal-steps off
answer Send caption="Broadcast message" edit=4006:second again=yes
wait answered timeout=5000
wait history gus@parleym.example second timeout=5000
# Fay's window cannot be opened again, and Bob leaves while that error is up.
close fay@parleym.example
wait no-conv fay@parleym.example timeout=3000
fail InstantMessage 0x80004005 count=1
modal-steps on
answer OK caption=Error text="Failed to create conversation window" delay=1000
answer Send caption="Broadcast message" edit=4006:third again=yes
status bob@parleym.example OFFLINE
wait answered timeout=5000
modal-steps off
wait history gus@parleym.example third timeout=5000
# Signing out closes the dialog, its picker up or not.
modal-steps on
answer "Select users" caption="Broadcast message" again=yes
signout
modal-steps off
wait no-window #32770 "Broadcast message" timeout=3000
signin me@parleym.example "Me Myself"
menu main Parleym "Broadcast message..."
wait window #32770 "Broadcast message" timeout=3000
signout
wait no-window #32770 "Broadcast message" timeout=3000
''' + LOADER_END


class BroadcastWithARoughMessengerTest(unittest.TestCase):
    MESSENGER = "wm"
    WINDOWS = "winxp"

    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(ROUGH, messenger=cls.MESSENGER, deliverables=True, loader=False,
                                   name="broadcast-rough-" + cls.MESSENGER, windows_version=cls.WINDOWS,
                                   data_files={"users.dat": cls.bench.fresh_users_dat()})

    @classmethod
    def tearDownClass(cls):
        cls.bench.clear_windows_version(cls.MESSENGER)

    def test_run_went_through(self):
        self.assertTrue(self.result.ok, self.result.describe())
        self.assertEqual(self.result.failures(), [], self.result.describe())

    def test_the_picker_lists_the_contacts_as_they_are_now(self):
        pickers = [l for l in self.result.lines
                   if l.startswith('dialog caption="Broadcast message"') and "Select users to broadcast" in l]
        people = ", ".join('"%s|%s@parleym.example"' % (name, name.split()[0].lower())
                           for name in ("Bob B", "Carol C", "Dave D", "Eve E", "Fay F", "Gus G"))
        self.assertIn("[" + people + "]", pickers[0], self.result.describe())

    def test_every_recipient_is_reached_or_named(self):
        r = self.result
        boxes = [l for l in r.lines if l.startswith('box caption="Parleym"') and "not sent" in l]
        self.assertEqual(len(boxes), 1, r.describe())
        self.assertIn("Eve E <eve@parleym.example>", boxes[0])
        self.assertNotIn("Carol", boxes[0])
        self.assertEqual(r.sent("eve@parleym.example"), [])
        self.assertEqual(r.sent("carol@parleym.example"), ["hello-all"])
        self.assertEqual(r.sent("dave@parleym.example"), ["hello-all"])
        # Chosen while the last recipients left: the dialog stayed and served them.
        self.assertEqual(r.sent("fay@parleym.example"), ["second"])
        self.assertEqual(r.sent("gus@parleym.example"), ["second", "third"], r.describe())

    def test_signing_out_closes_the_dialog(self):
        r = self.result
        steps = [i for i, l in enumerate(r.lines) if l.startswith("step ") and 'no-window #32770 "Broadcast' in l]
        self.assertEqual(len(steps), 2, r.describe())
        for i in steps:
            self.assertTrue(r.lines[i + 1].startswith("wait-ok"), r.describe())


class BroadcastWithARoughMsnMessengerTest(BroadcastWithARoughMessengerTest):
    MESSENGER = "msn"
    WINDOWS = "win2k"


if __name__ == "__main__":
    unittest.main(verbosity=2)
