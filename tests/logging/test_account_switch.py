#!/usr/bin/python3
"""A conversation window the messenger keeps open across sign-out and another
account's sign-in, in the stand-in messenger with the real loader, hook library
and plug-in: what it showed is logged into the account that signed out, the next
account logs only what the window shows after the switch and never has its
conversations written over, and the same account signing in again goes on with
the same conversation."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import olefile  # noqa: E402
from benchtest import LOADER_END, LOADER_START, bench  # noqa: E402
from test_logging_standin import read_content, read_index  # noqa: E402

SCENARIO = LOADER_START + r'''
signin ann@parleym.example "Ann"
add-contact bob@parleym.example "Bob" status=ONLINE
receive bob@parleym.example "bob tells ann"
signout
# Bob's window stays open, as both messengers keep their windows.
signin cid@parleym.example "Cid"
add-contact bob@parleym.example "Bob" status=ONLINE
add-contact dan@parleym.example "Dan" status=ONLINE
receive dan@parleym.example "dan tells cid"
receive bob@parleym.example "bob tells cid"
screenshot two-accounts
# Cid again: both conversations go on where they were.
signout
signin cid@parleym.example "Cid"
receive bob@parleym.example "bob tells cid again"
close dan@parleym.example
close bob@parleym.example
signout
''' + LOADER_END


class AccountSwitchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(SCENARIO, messenger="wm", deliverables=True, loader=False,
                                   name="account-switch", windows_version="winxp",
                                   data_files={"users.dat": cls.bench.fresh_users_dat()})
        cls.logs = olefile.OleFileIO(os.path.join(cls.result.data_dir, "logs.dat"))

    @classmethod
    def tearDownClass(cls):
        cls.logs.close()
        cls.bench.clear_windows_version("wm")

    def conversations(self, account_number):
        """{contact: [conversation text, ...]} of one account's sub-storage."""
        storage = str(account_number)
        _, _, entries = read_index(self.logs.openstream([storage, "conversations"]).read())
        found = {}
        for entry in entries:
            _, text, _ = read_content(self.logs.openstream([storage, str(entry["number"])]).read())
            found.setdefault(entry["contact"], []).append(text)
        return found

    def test_each_account_keeps_its_own_conversations(self):
        self.assertTrue(self.result.ok, self.result.describe())
        storages = sorted(path[0] for path in self.logs.listdir() if path[-1] == "conversations")
        self.assertEqual(len(storages), 2, self.logs.listdir())
        first, second = (self.conversations(number) for number in storages)
        # Ann's account has Bob's conversation as it was at sign-out.
        self.assertEqual(list(first), ["bob@parleym.example"])
        self.assertIn("bob tells ann", first["bob@parleym.example"][0])
        # Cid's account has one conversation with each: none holds what was said to Ann.
        self.assertEqual(sorted(second), ["bob@parleym.example", "dan@parleym.example"])
        self.assertEqual(len(second["dan@parleym.example"]), 1)
        self.assertIn("dan tells cid", second["dan@parleym.example"][0])
        self.assertEqual(len(second["bob@parleym.example"]), 1, second)
        with_bob = second["bob@parleym.example"][0]
        self.assertNotIn("bob tells ann", with_bob)
        # Signed in again, the same conversation went on, each line once.
        self.assertEqual(with_bob.count("bob tells cid"), 2, with_bob)
        self.assertIn("bob tells cid again", with_bob)


if __name__ == "__main__":
    unittest.main()
