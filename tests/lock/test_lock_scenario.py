#!/usr/bin/python3
"""The lock end to end in both stand-in messengers, with the real loader, hook library
and plug-in: the messenger's windows disabled and covered (a minimised conversation
restored, one opened while locked covered too), the loader refusing Exit and Disable
while locked and allowing them after, a wrong password refused with the box emptied,
the right one giving everything back. Screenshots of the unlock dialog and of the
locked messenger stay in each run's output folder."""
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
WINDOWS = ("main", "conv:bob@example.com", "conv:carol@example.com", "conv:dave@example.com")

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
answer caption="Unlock messenger" screenshot=unlock
menu main Parleym "Lock messenger"
wait window #32770 "Unlock messenger" timeout=10000
sleep 500
receive dave@example.com "Are you there?"
wait conv dave@example.com timeout=10000
sleep 500
answer OK caption=Error text="before quit Parleym"
post class:ParleymLdrClass 273 105
sleep 700
answer OK caption=Error text="before disable Parleym"
post class:ParleymLdrClass 273 32771
sleep 700
post class:ParleymDispWnd 273 30019
sleep 500
screenshot locked
answer OK caption=Error text="Password mismatch"
answer Unlock caption="Unlock messenger" edit=4007:Secret
sleep 1500
answer Unlock caption="Unlock messenger" edit=4007:secret
sleep 1500
dump
post class:ParleymLdrClass 273 32771
sleep 700
post class:ParleymLdrClass 273 105
wait no-window ParleymLdrClass "Parleym Loader" timeout=10000
exit
'''

WINDOWS_VERSION = {"wm": "winxp", "msn": "win2k"}


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


class LockScenario(unittest.TestCase):
    def check_covered(self, owned_line):
        """One panel, centred: half the outer size less half the panel's, in client coordinates."""
        m = re.search(r'\["(.*?)" at=(-?\d+),(-?\d+) size=(\d+)x(\d+)\] outer=(\d+)x(\d+)$', owned_line)
        self.assertIsNotNone(m, owned_line)
        text, x, y, w, h, outer_w, outer_h = m.group(1), *map(int, m.groups()[1:])
        self.assertEqual(text, PANEL)
        self.assertEqual(x, outer_w // 2 - w // 2, owned_line)
        self.assertEqual(y, outer_h // 2 - h // 2, owned_line)

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

                locked = between(r.lines, 'Parleym "Lock messenger"', "edit=4007:secret")
                for window in WINDOWS:
                    state = last_in(locked, "state " + window)
                    self.assertIsNotNone(state, window + "\n" + r.describe())
                    self.assertIn("enabled=no minimized=no", state)
                    self.check_covered(last_in(locked, "owned " + window))
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
                for window in WINDOWS:
                    self.assertIn("enabled=yes", last_in(after, "dump state " + window))
                    self.assertTrue(last_in(after, "dump owned " + window).startswith(
                        "dump owned " + window + " [] outer="))
                # Unlocked, the loader lets Disable and Exit through.
                self.assertEqual(len([line for line in r.lines if "before disable Parleym" in line and
                                      line.startswith("box ")]), 1)
                self.assertFalse([line for line in after if line.startswith("box ")], r.describe())
                shots = [os.path.basename(path) for path in r.screenshots()]
                self.assertIn("unlock.bmp", shots)
                self.assertIn("locked.bmp", shots)
                print("screenshots:", r.out_dir)


if __name__ == "__main__":
    unittest.main()
