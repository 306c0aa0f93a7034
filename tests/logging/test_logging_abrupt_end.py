#!/usr/bin/python3
"""A new account's logs when the messenger process ends abruptly, with the real
loader, hook library and plug-in in the stand-in messenger: once between sign-in
and the first save, once between the first save and sign-out. Each next start
logs the account again and the log viewer lists every conversation."""
import os
import struct
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

import olefile  # noqa: E402
from benchtest import LOADER_START, bench  # noqa: E402
from scenarios import OPEN_VIEWER, viewer_pilot  # noqa: E402

ME = "new@parleym.example"

# The loader is ended cleanly before the messenger dies (a loader killed from
# outside leaves its hooks with Wine); Wine keeps the plug-in loaded, and the
# messenger then ends without any clean-up, as when it is killed.
START = LOADER_START + r'''
signin {me} "New User"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=ONLINE
'''.replace("{me}", ME)

END_LOADER_AND_DIE = r'''
post class:ParleymLdrClass 273 105 0
wait no-window ParleymLdrClass timeout=10000
terminate
'''

SIGNED_IN_ONLY = START + END_LOADER_AND_DIE

FIRST_SAVE = START + r'''
open bob@parleym.example
receive bob@parleym.example "hello before the crash"
''' + END_LOADER_AND_DIE

LAST = START + r'''
open carol@parleym.example
receive carol@parleym.example "hello after the crash"
''' + OPEN_VIEWER + viewer_pilot("group-user", "select", "0", "0", "pane", "pane-bob.txt") + \
    viewer_pilot("select", "1", "0", "pane", "pane-carol.txt") + r'''screenshot viewer-after-abrupt-ends
signout
post class:ParleymLdrClass 273 105 0
wait no-window ParleymLdrClass timeout=10000
exit
'''


def read_index(data):
    next_number, enabled, count = struct.unpack_from("<iii", data, 0)
    at, entries = 12, []
    for _ in range(count):
        start, end, length = struct.unpack_from("<ddi", data, at)
        at += 20
        contact = data[at:at + length].decode("latin-1")
        number, = struct.unpack_from("<i", data, at + length)
        at += length + 4
        entries.append((contact, number))
    return next_number, entries


class AbruptEndTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        data = {"users.dat": cls.bench.fresh_users_dat()}
        pilot = cls.bench.viewer_pilot()
        cls.runs = []
        for n, scenario in enumerate((SIGNED_IN_ONLY, FIRST_SAVE, LAST)):
            result = cls.bench.run(scenario, messenger="wm", windows_version="winxp", data_files=data,
                                   extra_files=pilot, name="abrupt-%d" % n)
            cls.runs.append(result)
            # The next start finds the files as this process left them.
            data = {}
            for name in os.listdir(result.data_dir):
                if name.endswith(".dat"):
                    with open(os.path.join(result.data_dir, name), "rb") as f:
                        data[name] = f.read()
        cls.bench.clear_windows_version("wm")

    def test_each_run_ended_as_planned_without_store_errors(self):
        for result in self.runs[:2]:
            self.assertEqual(result.lines[-1] if result.lines else "", "terminated", result.describe())
            self.assertEqual(result.failures(), [], result.describe())
        self.assertTrue(self.runs[2].ok, self.runs[2].describe())
        for result in self.runs:
            boxes = [l for l in result.lines if l.startswith("box ")]
            self.assertEqual(boxes, [], result.describe())

    def test_the_account_keeps_one_storage_and_lists_both_conversations(self):
        logs = olefile.OleFileIO(os.path.join(self.runs[2].data_dir, "logs.dat"))
        try:
            storages = sorted(p[0] for p in logs.listdir(streams=True, storages=False) if len(p) == 2)
            self.assertEqual(sorted(set(storages)), ["1"])
            next_number, entries = read_index(logs.openstream(["1", "conversations"]).read())
            self.assertEqual(sorted(c for c, _ in entries), ["bob@parleym.example", "carol@parleym.example"])
            numbers = sorted(n for _, n in entries)
            self.assertEqual(len(set(numbers)), 2)
            self.assertGreater(next_number, numbers[-1])
            for _, number in entries:
                self.assertTrue(logs.exists(["1", str(number)]))
        finally:
            logs.close()

    def test_viewer_lists_both_under_their_contacts(self):
        for name, said in (("pane-bob.txt", "hello before the crash"), ("pane-carol.txt", "hello after the crash")):
            path = os.path.join(self.runs[2].data_dir, name)
            self.assertTrue(os.path.exists(path), self.runs[2].describe())
            with open(path, "rb") as f:
                self.assertIn(said, f.read().decode("latin-1"), name)


if __name__ == "__main__":
    unittest.main()
