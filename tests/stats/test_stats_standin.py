#!/usr/bin/python3
"""The statistics dialogs in the stand-in messenger with the real loader, hook library
and plug-in: two contacts online for a few seconds, "Statistics..." from the
messenger's Parleym menu (Refresh grows the times) and from the tray (Details... for
one contact, Reset with Yes zeroes the times). Screenshots stay in the run's output folder."""
import os
import re
import subprocess
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

from benchtest import bench  # noqa: E402
from streams import control_text, list_rows  # noqa: E402

STATS = "Online time statistics"
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"
QUESTION = "Are you sure you want to reset statistics?"

SCENARIO = r'''
# The loader is started while the messenger runs, as a user would.
wait no-window ParleymLdrClass timeout=10000
spawn ParleymLdr.exe
wait sinks 1 timeout=30000
wait menu main Parleym timeout=10000
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=OFFLINE
add-contact carol@parleym.example "Carol C" status=OFFLINE
add-contact dave@parleym.example "Dave D" status=OFFLINE
sleep 1000
status bob@parleym.example ONLINE
status carol@parleym.example ONLINE
sleep 2000
# From the messenger's menu: the times as opened, and after Refresh two seconds later.
answer caption="Online time statistics" delay=2000 button=Refresh again=yes
answer caption="Online time statistics" screenshot=stats-refreshed button=Close
menu main Parleym "Statistics..."
wait answered timeout=15000
# From the tray: Bob's details, then Reset.
answer caption="Online time statistics" select=bob@parleym.example button="Details..." again=yes
answer caption="Statistics details" screenshot=stats-details button=Close
answer caption="Online time statistics" button=Reset again=yes
answer caption=Parleym text="Are you sure you want to reset statistics?" button=Yes
answer caption="Online time statistics" screenshot=stats-reset button=Close
post class:ParleymLdrClass 273 30012 0
wait answered timeout=20000
signout
post class:ParleymLdrClass 16
wait no-window ParleymLdrClass timeout=10000
exit
'''


def seconds(text):
    """" 00:00:04" or "1 day 00:00:04" -> seconds."""
    match = re.fullmatch(r"(?:(\d+) days? )? ?(\d\d):(\d\d):(\d\d)", text)
    assert match, text
    days, hours, minutes, secs = (int(g) if g else 0 for g in match.groups())
    return ((days * 24 + hours) * 60 + minutes) * 60 + secs


class StatisticsInStandinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        users = os.path.join(cls.bench.drive_c, "stats-users.dat")
        subprocess.run(["/usr/bin/wine", os.path.join(cls.bench.binary_dir, "tools", "users-dat.exe"), "create",
                        cls.bench.windows_path(users)], env=cls.bench.env, check=True, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(users, "rb") as f:
            users_dat = f.read()
        cls.result = cls.bench.run(SCENARIO, messenger="wm", loader=False, windows_version="winxp",
                                   data_files={"users.dat": users_dat}, name="stats-dialogs")
        cls.stats = cls.result.lines_starting('dialog caption="%s"' % STATS)
        print("screenshots:", cls.result.out_dir)

    @classmethod
    def tearDownClass(cls):
        cls.bench.set_windows_version("msmsgs.exe", None)

    def times(self, line):
        rows = list_rows(line, 4011)
        return {row[1]: (row[0], seconds(row[2]), row[2]) for row in rows}, control_text(line, "Static:4014")

    def test_scenario_ran(self):
        self.assertTrue(self.result.ok, self.result.describe())
        self.assertEqual(self.result.failures(), [], self.result.describe())
        # Opened from the menu (as opened, refreshed) and from the tray (as opened,
        # after the details, after the reset).
        self.assertEqual(len(self.stats), 5, self.result.describe())
        shots = sorted(os.path.basename(path) for path in self.result.screenshots())
        self.assertEqual(shots, ["stats-details.bmp", "stats-refreshed.bmp", "stats-reset.bmp"])

    def test_refresh_grows_the_times(self):
        opened, own_opened = self.times(self.stats[0])
        refreshed, own_refreshed = self.times(self.stats[1])
        # Only contacts seen online are recorded; listed by friendly name, sorted.
        self.assertEqual(list(opened), [BOB, CAROL])
        self.assertEqual([opened[BOB][0], opened[CAROL][0]], ["Bob B", "Carol C"])
        self.assertGreaterEqual(opened[BOB][1], 2)
        for contact in (BOB, CAROL):
            self.assertGreaterEqual(refreshed[contact][1], opened[contact][1] + 1, (opened, refreshed))
        self.assertGreaterEqual(seconds(own_refreshed), seconds(own_opened) + 1)
        self.assertGreaterEqual(seconds(own_refreshed), refreshed[BOB][1])
        # Opened again from the tray: at least what the refresh showed.
        again, _ = self.times(self.stats[2])
        self.assertGreaterEqual(again[BOB][1], refreshed[BOB][1])

    def test_details_show_the_session_in_bold_then_the_contacts_period(self):
        details = self.result.lines_starting('dialog caption="Statistics details for %s"' % BOB)
        self.assertEqual(len(details), 1, self.result.describe())
        rows = list_rows(details[0], 4013)
        self.assertEqual(len(rows), 2, rows)
        self.assertFalse(rows[0][0].startswith(" "), rows)
        self.assertTrue(rows[1][0].startswith("  ") and rows[1][1].startswith("  "), rows)
        self.assertGreaterEqual(seconds(rows[0][2]), seconds(rows[1][2]))
        summary = control_text(details[0], "Static:4015")
        own, share = summary.split("\n")
        self.assertTrue(own.startswith("Your total online time: "), summary)
        match = re.fullmatch(r"%s total online time (.+) is (\d+\.\d\d)%% of your total online time" % re.escape(BOB),
                             share)
        self.assertTrue(match, summary)
        # Bob came online a second after the sign-in.
        self.assertEqual(match.group(1), rows[1][2])
        self.assertLess(float(match.group(2)), 100.0)
        self.assertGreater(float(match.group(2)), 50.0)

    def test_reset_asks_then_zeroes_the_times_and_keeps_the_contacts(self):
        boxes = self.result.lines_starting('box caption="Parleym" text="%s"' % QUESTION)
        self.assertEqual(len(boxes), 1, self.result.describe())
        self.assertIn("own=yes", boxes[0])
        reset, own = self.times(self.stats[4])
        self.assertEqual(sorted(reset), [BOB, CAROL])
        self.assertEqual([reset[BOB][2], reset[CAROL][2], own], [" 00:00:00"] * 3)


if __name__ == "__main__":
    unittest.main()
