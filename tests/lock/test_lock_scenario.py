#!/usr/bin/python3
"""The lock end to end in both stand-in messengers, with the real loader, hook library
and plug-in: every window of the messenger disabled and its client area covered
(a minimised conversation left minimised, a main window closed to the notification area
covered once it shows, windows the messenger opens or enables again while locked kept
disabled, its notification-area menu refused, the About box usable), the loader refusing
Exit and Disable while locked and allowing them after, a wrong password refused with the
box emptied, the right one giving everything back. Screenshots of the unlock dialog and
of the locked messenger stay in each run's output folder."""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))

from driver import Bench  # noqa: E402

PANEL = "Messenger client is locked"

# From "menu ... Lock messenger" on, the steps run inside the unlock dialog's own loop.
SCENARIO = r'''
option steps-in-modal-loops
option window-states
signin alice@example.com Alice
add-contact bob@example.com Bob status=ONLINE
add-contact carol@example.com Carol status=ONLINE
add-contact dave@example.com Dave status=ONLINE
# The loader is started while the messenger runs, as a user would.
wait no-window ParleymLdrClass timeout=10000
spawn ParleymLdr.exe
wait sinks 1 timeout=30000
open bob@example.com
open carol@example.com
wait menu main Parleym timeout=10000
wait menu conv:bob@example.com Parleym timeout=10000
wait menu conv:carol@example.com Parleym timeout=10000
show conv:carol@example.com minimized
send class:ParleymDispWnd 1028
menu main Parleym "Auto lock messenger" "at 5 minutes"
send class:ParleymDispWnd 1028
# The main window closed to the notification area, and a window of the messenger's own open.
hide main
messenger-window "Sign In"
answer caption="Unlock messenger" screenshot=unlock
menu main Parleym "Lock messenger"
wait window #32770 "Unlock messenger" timeout=10000
sleep 500
probe title:"Sign In"
dump
receive dave@example.com "Are you there?"
wait conv dave@example.com timeout=10000
sleep 500
probe title:"Unlock messenger"
# The messenger shows its main window again, enables windows, opens a window and its menu.
show main
sleep 300
enable main
enable conv:bob@example.com
messenger-window "Options"
tray-menu "Sign Out"
sleep 300
probe title:Options
# A box of its own, looked at while it shows.
answer OK caption=Notice delay=1500
probe-later title:Notice 700
show-box Notice "You have new e-mail"
wait answered timeout=10000
# The About box shows nothing of the user's: it stays usable.
answer OK caption=About delay=1500
probe-later title:About 700
post class:ParleymDispWnd 273 30001
wait answered timeout=10000
answer OK caption=Error text="before quit Parleym"
post class:ParleymLdrClass 273 105
sleep 700
answer OK caption=Error text="before disable Parleym"
post class:ParleymLdrClass 273 32771
sleep 700
post class:ParleymDispWnd 273 30019
sleep 500
dump
screenshot locked
answer OK caption=Error text="Password mismatch"
answer Unlock caption="Unlock messenger" edit=4007:Secret
sleep 1500
answer Unlock caption="Unlock messenger" edit=4007:secret
sleep 1500
dump
probe title:"Sign In"
probe title:Options
post class:ParleymLdrClass 273 32771
sleep 700
post class:ParleymLdrClass 273 105
wait no-window ParleymLdrClass "Parleym Loader" timeout=10000
exit
'''

# The messenger ends while locked (killed, as "End process" does), its loader running on.
ENDS_LOCKED = r'''
option steps-in-modal-loops
wait no-window ParleymLdrClass timeout=10000
spawn ParleymLdr.exe
wait sinks 1 timeout=30000
wait menu main Parleym timeout=10000
signin alice@example.com Alice
add-contact bob@example.com Bob status=ONLINE
receive bob@example.com "Secret plans"
menu main Parleym "Lock messenger"
wait window #32770 "Unlock messenger" timeout=10000
terminate
'''

# Meanwhile, from a program the plug-in does not run in: the loader's Disable, refused while
# the messenger was locked, goes through now that it has gone.
DISABLED_AFTER = r'''
wait window ParleymLdrClass timeout=10000
post class:ParleymLdrClass 273 32771
sleep 1000
'''

# Started again and enabled from the tray once the messenger is up (Wine keeps a hook library
# mapped, so a plug-in loaded before the messenger is ready would never start over): the
# loader remembers the lock, and the plug-in locks once signed in.
STARTS_LOCKED = r'''
option steps-in-modal-loops
option window-states
wait window ParleymLdrClass timeout=10000
post class:ParleymLdrClass 273 32771
wait sinks 1 timeout=30000
wait menu main Parleym timeout=10000
signin alice@example.com Alice
add-contact bob@example.com Bob status=ONLINE
wait window #32770 "Unlock messenger" timeout=10000
receive bob@example.com "Are you back?"
wait conv bob@example.com timeout=10000
sleep 500
dump
answer Unlock caption="Unlock messenger" edit=4007:secret
sleep 1500
dump
post class:ParleymLdrClass 16
wait no-window ParleymLdrClass timeout=10000
exit
'''

WINDOWS_VERSION = {"wm": "winxp", "msn": "win2k"}
CONVERSATIONS = ("conv:bob@example.com", "conv:dave@example.com")


def users_file(bench):
    """users.dat with alice's password, written by the build's own tool."""
    tool = bench.built("tools/users-dat.exe")
    if not tool:
        raise unittest.SkipTest("users-dat.exe not built")
    folder = tempfile.mkdtemp(prefix="parleym-lock-", dir=os.path.join(bench.drive_c, "users"))
    path = os.path.join(folder, "users.dat")
    digest = hashlib.md5(b"secret").hexdigest()
    subprocess.run(["/usr/bin/wine", tool, "write", bench.windows_path(path), "alice@example.com", digest, ""],
                   env=bench.env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    with open(path, "rb") as f:
        return f.read()


def between(lines, start, end):
    """Lines after the first containing `start` up to the first after it containing `end`."""
    begin = next(i for i, line in enumerate(lines) if start in line)
    stop = next(i for i in range(begin + 1, len(lines)) if end in lines[i])
    return lines[begin + 1:stop]


def last_in(lines, prefix):
    found = [line for line in lines if line.startswith(prefix)]
    return found[-1] if found else None


OWNED = re.compile(r'\[(.*)\] (?:outer=\d+x\d+ )?client=(\d+)x(\d+)$')
PANEL_AT = re.compile(r'"(.*?)" at=(-?\d+),(-?\d+) size=(\d+)x(\d+)')


class LockScenario(unittest.TestCase):
    def check_covered(self, line):
        """One panel over the whole client area, the whole text on it."""
        self.assertIsNotNone(line)
        m = OWNED.search(line)
        self.assertIsNotNone(m, line)
        panels = PANEL_AT.findall(m.group(1))
        self.assertEqual(len(panels), 1, line)
        text, x, y, w, h = panels[0][0], *map(int, panels[0][1:])
        self.assertEqual(text, PANEL, line)
        self.assertEqual((x, y, w, h), (0, 0, int(m.group(2)), int(m.group(3))), line)

    def check_bare(self, line):
        """Nothing over the window (no panel floating over a hidden or minimised one)."""
        self.assertIsNotNone(line)
        m = OWNED.search(line)
        self.assertIsNotNone(m, line)
        self.assertEqual(m.group(1), "", line)

    def test_lock_in_both_messengers(self):
        bench = Bench()
        for messenger in ("wm", "msn"):
            with self.subTest(messenger=messenger):
                r = bench.run(SCENARIO, messenger=messenger, loader=False, windows_version=WINDOWS_VERSION[messenger],
                              data_files={"users.dat": users_file(bench)}, name="lock-" + messenger)
                self.assertEqual(r.failures(), [], r.describe())
                self.assertTrue(r.ok, r.describe())
                # The tray's check mark follows the choice.
                self.assertEqual([line for line in r.lines if line.startswith("sent-message")],
                                 ["sent-message result=30020", "sent-message result=30021"], r.describe())

                # As the lock began: the hidden main window has no panel floating alone, the
                # minimised conversation stays minimised, the messenger's own window is covered.
                began = between(r.lines, 'Parleym "Lock messenger"', 'receive dave@example.com')
                self.assertEqual(last_in(began, "dump state main"), "dump state main enabled=no minimized=no")
                self.check_bare(last_in(began, "dump owned main"))
                self.assertEqual(last_in(began, "dump state conv:carol@example.com"),
                                 "dump state conv:carol@example.com enabled=no minimized=yes")
                self.check_bare(last_in(began, "dump owned conv:carol@example.com"))
                sign_in = last_in(began, "probe title:Sign In ")
                self.assertIn("enabled=no", sign_in)
                self.check_covered(sign_in)

                locked = between(r.lines, 'Parleym "Lock messenger"', "edit=4007:secret")
                # Panels do not take the keyboard from the unlock dialog.
                self.assertIn("active=yes", last_in(locked, "probe title:Unlock messenger "))
                for window in ("main",) + CONVERSATIONS:
                    self.assertEqual(last_in(locked, "dump state " + window),
                                     "dump state %s enabled=no minimized=no" % window)
                    self.check_covered(last_in(locked, "dump owned " + window))
                self.assertEqual(last_in(locked, "dump state conv:carol@example.com"),
                                 "dump state conv:carol@example.com enabled=no minimized=yes")
                options = last_in(locked, "probe title:Options")
                self.assertIn("enabled=no", options)
                self.check_covered(options)
                self.assertIn("tray-menu shown=no result=0", locked)
                self.assertIn("enabled=no", last_in(locked, "probe title:Notice"))
                self.assertIn("enabled=yes", last_in(locked, "probe title:About"))
                boxes = [line for line in locked if line.startswith("box ")]
                self.assertTrue(any("You must unlock it before quit Parleym" in b and "own=no" in b for b in boxes),
                                "\n".join(boxes))
                self.assertTrue(any("You must unlock it before disable Parleym" in b for b in boxes))
                self.assertTrue(any('text="Password mismatch"' in b and "own=yes" in b for b in boxes))
                # Set password... from the tray is refused while locked.
                self.assertFalse([line for line in r.lines if 'dialog caption="Set password"' in line])
                # The wrong password emptied the box before the right one was typed.
                unlock = [line for line in r.lines if line.startswith('dialog caption="Unlock messenger"')]
                self.assertGreaterEqual(len(unlock), 2, r.describe())
                self.assertIn('Edit:4007:""', unlock[-1])

                after = r.lines[next(i for i, line in enumerate(r.lines) if "edit=4007:secret" in line):]
                for window in ("main", "conv:carol@example.com") + CONVERSATIONS:
                    self.assertIn("enabled=yes", last_in(after, "dump state " + window))
                    self.check_bare(last_in(after, "dump owned " + window))
                self.assertIn("minimized=yes", last_in(after, "dump state conv:carol@example.com"))
                for own in ("probe title:Sign In ", "probe title:Options "):
                    self.assertIn("enabled=yes", last_in(after, own))
                    self.check_bare(last_in(after, own))
                # Unlocked, the loader lets Disable and Exit through.
                self.assertEqual(len([line for line in r.lines if "before disable Parleym" in line and
                                      line.startswith("box ")]), 1)
                self.assertFalse([line for line in after if line.startswith("box ")], r.describe())
                shots = [os.path.basename(path) for path in r.screenshots()]
                self.assertIn("unlock.bmp", shots)
                self.assertIn("locked.bmp", shots)
                print("screenshots:", r.out_dir)

    def test_a_lock_outlives_the_messenger_that_ended_locked(self):
        bench = Bench()
        ended = bench.run(ENDS_LOCKED, messenger="wm", loader=False, windows_version="winxp",
                          data_files={"users.dat": users_file(bench)}, name="ends-locked")
        try:
            self.assertIn("terminated", ended.lines, ended.describe())
            disabled = bench.run(DISABLED_AFTER, messenger="msn", version="6.0", deliverables=False,
                                 name="disabled-after")
            self.assertTrue(disabled.ok, disabled.describe())
            self.assertFalse(disabled.lines_starting("box "), disabled.describe())
            again = bench.run(STARTS_LOCKED, messenger="wm", loader=False, windows_version="winxp",
                              name="starts-locked")
            self.assertEqual(again.failures(), [], again.describe())
            self.assertTrue(again.ok, again.describe())
            locked = between(again.lines, "wait window #32770", "edit=4007:secret")
            for window in ("main", "conv:bob@example.com"):
                self.assertEqual(last_in(locked, "dump state " + window),
                                 "dump state %s enabled=no minimized=no" % window)
                self.check_covered(last_in(locked, "dump owned " + window))
            after = again.lines[next(i for i, line in enumerate(again.lines) if "edit=4007:secret" in line):]
            self.assertIn("enabled=yes", last_in(after, "dump state main"))
            # Unlocked, the loader takes a polite close as its Exit.
            self.assertFalse([line for line in after if line.startswith("box ")], again.describe())
        finally:
            # A loader left behind would hold every later test's messenger.
            bench.wine("taskkill", "/f", "/im", "ParleymLdr.exe")


if __name__ == "__main__":
    unittest.main()
