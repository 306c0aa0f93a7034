#!/usr/bin/python3
"""Find in the log viewer end to end in the stand-in messenger with the real hook
library, loader and plug-in: every logged conversation is searched whatever the
case, F3 and Shift+F3 show each match in its conversation, and a conversation
logged after the first search is found by the second."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

from benchtest import LOADER_END, LOADER_START, bench  # noqa: E402
from scenarios import OPEN_VIEWER, find, viewer_pilot  # noqa: E402

def step(item, name):
    """Chooses the menu item, then has the pilot write what the pane shows."""
    return 'menu class:ParleymFwWindow Edit "%s"\n' % item + viewer_pilot("pane", name + ".txt")


SCENARIO = LOADER_START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=ONLINE
add-contact dave@parleym.example "Dave D" status=ONLINE
open bob@parleym.example
receive bob@parleym.example "Shall we have LUNCH on Friday?"
open carol@parleym.example
receive carol@parleym.example "nothing to see here"
type carol@parleym.example "then lunch is on me"
enter carol@parleym.example
wait history carol@parleym.example "on me"
''' + OPEN_VIEWER + find("lunch") + r'''{first}
{second}
{back}
# Dave's conversation is logged after the first search; the second search finds it.
open dave@parleym.example
receive dave@parleym.example "Lunch for me too"
''' + find("lunch") + r'''{again1}
{again2}
{again3}
screenshot find-again
signout
''' + LOADER_END
for key, item in (("first", "Find Next"), ("second", "Find Next"), ("back", "Find Previous"),
                  ("again1", "Find Next"), ("again2", "Find Next"), ("again3", "Find Next")):
    SCENARIO = SCENARIO.replace("{%s}" % key, step(item, key))


class FindInStandinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(
            SCENARIO, messenger="wm", deliverables=True, loader=False, name="find-wm", windows_version="winxp",
            data_files={"users.dat": cls.bench.fresh_users_dat()}, extra_files=cls.bench.viewer_pilot())

    @classmethod
    def tearDownClass(cls):
        cls.bench.clear_windows_version("wm")

    def pane(self, name):
        path = os.path.join(self.result.data_dir, name + ".txt")
        self.assertTrue(os.path.exists(path), self.result.describe())
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def shown(self, name):
        """Whose conversation the pane shows, told by its lines."""
        text = self.pane(name)
        found = [who for who, line in (("bob", "LUNCH on Friday"), ("carol", "lunch is on me"),
                                       ("dave", "Lunch for me too")) if line in text]
        self.assertEqual(len(found), 1, text)
        return found[0]

    def test_scenario_ran_and_both_searches_were_asked(self):
        self.assertTrue(self.result.ok, self.result.describe())
        self.assertEqual(self.result.failures(), [], self.result.describe())
        asked = [line for line in self.result.lines if "Find in all logged conversations" in line]
        self.assertGreaterEqual(len(asked), 2, self.result.describe())

    def test_next_and_previous_step_through_matches_in_every_conversation(self):
        first, second, back = self.shown("first"), self.shown("second"), self.shown("back")
        # The match in another case and the one in the other contact's conversation.
        self.assertEqual({first, second}, {"bob", "carol"})
        self.assertEqual(back, first)

    def test_a_conversation_logged_after_the_first_search_is_found_by_the_second(self):
        found = {self.shown(name) for name in ("again1", "again2", "again3")}
        self.assertEqual(found, {"bob", "carol", "dave"})


if __name__ == "__main__":
    unittest.main()
