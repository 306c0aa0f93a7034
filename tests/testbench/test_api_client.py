#!/usr/bin/python3
"""A Messenger API client loaded into the stand-in through a global hook, as the
plug-in will be, sees the user, the contacts, a conversation window and the events."""
import os
import unittest

from benchtest import bench

SCENARIO = '''
signin alice@example.com "Alice A"
add-contact bob@example.com "Bob B" status=ONLINE
add-contact carol@example.com Carol status=AWAY
{fail}
spawn ApiClientHost.exe 4
wait file apiclient.log ready timeout=15000
signout
signin alice@example.com "Alice A"
add-contact dave@example.com Dave status=BUSY
add-contact erin@example.com Erin hr=0x8100030B
status carol@example.com LOCAL_CONNECTING_TO_SERVER
sleep 4000
free-library ApiClientHook.dll
exit
'''


class ApiClientTest(unittest.TestCase):
    def run_client(self, messenger, fail=""):
        b = bench()
        folder = os.path.join(b.binary_dir, "testbench", "bin")
        extra = {n: os.path.join(folder, n) for n in ("ApiClientHook.dll", "ApiClientHost.exe")}
        r = b.run(SCENARIO.format(fail=fail), messenger=messenger, deliverables=False, extra_files=extra,
                  name="apiclient-" + messenger)
        log = (r.data_file("apiclient.log") or b"").decode("cp1252").splitlines()
        return r, log

    def test_client_reads_session_opens_conversation_and_gets_events(self):
        r, log = self.run_client("wm")
        self.assertTrue(r.ok, r.describe())
        self.assertEqual(log[:12], [
            "attached exe=msmsgs.exe",
            "CoCreateInstance 0x00000000",
            "OleRun 0x00000000",
            "QueryInterface IMessenger 0x00000000",
            "get_MyStatus 0x00000000 status=2",
            "get_MySigninName 0x00000000 name=alice@example.com",
            "get_MyFriendlyName 0x00000000 name=Alice A",
            "get_MyContacts 0x00000000",
            "count 2",
            "contact 0 signin=bob@example.com friendly=Bob B status=2 self=0",
            "contact 1 signin=carol@example.com friendly=Carol status=34 self=0",
            "Advise 0x00000000 cookie=1",
        ], "\n".join(log))
        self.assertEqual(log[12:15], [
            "InstantMessage bob@example.com 0x00000000",
            "get_HWND 0x00000000 class=IMWindowClass title=Bob B - Conversation",
            "ready",
        ])
        self.assertEqual(log[15:], [
            "event 0x00000401 args=0",
            "event 0x00000400 args=1 [I4 0]",
            "event 0x00000402 args=2 [I4 0] [DISPATCH signin=dave@example.com friendly=Dave status=10 self=0]",
            "event 0x00000402 args=2 [I4 -2130705653] [DISPATCH signin=erin@example.com friendly=Erin status=2 self=0]",
            "event 0x00000406 args=2 [DISPATCH signin=carol@example.com friendly=Carol status=512 self=0] [I4 512]",
        ])
        self.assertIn('api InstantMessage("bob@example.com") -> 0x00000000', r.lines)
        # The host has unhooked by now; the stand-in frees the library as Windows would.
        self.assertIn('free-library "ApiClientHook.dll" freed=1 unloaded', r.lines)
        # It never unadvised: the stand-in reports that instead of calling into freed code.
        self.assertTrue(r.lines_starting("api sink-orphaned cookie=1 "), r.describe())

    def test_forced_failure_reaches_the_client(self):
        r, log = self.run_client("msn", fail="fail InstantMessage 0x8100030A count=1")
        self.assertTrue(r.ok, r.describe())
        self.assertIn("attached exe=msnmsgr.exe", log)
        self.assertIn("InstantMessage bob@example.com 0x8100030A", log)
        self.assertFalse([l for l in log if l.startswith("get_HWND")])
        self.assertFalse(r.lines_starting("window-created conv:"))
        self.assertIn("api-fail InstantMessage hr=0x8100030A", r.lines)


if __name__ == "__main__":
    unittest.main()
