#!/usr/bin/python3
"""A whole messenger session in the stand-in, for both messenger profiles: the
transcript must show faithfully what happened in the windows and on the API."""
import unittest

from benchtest import bench, history_positions, parse_objects, unquote

SESSION = r'''
signin alice@example.com "Alice A"
add-contact bob@example.com "Bob B" status=ONLINE
add-contact carol@example.com Carol status=OFFLINE
open bob@example.com
receive bob@example.com "Hi :-) there (Y)(y)"
type bob@example.com "back ;-)"
enter bob@example.com
type bob@example.com "second"
click-send bob@example.com
enter bob@example.com
status bob@example.com AWAY
status carol@example.com ONLINE
context-menu carol@example.com "Send an Instant Message"
type carol@example.com "hello carol"
status carol@example.com OFFLINE
click-send carol@example.com
context-menu bob@example.com "View Profile" returncmd
menu main File "Sign Out"
close carol@example.com
wait no-conv carol@example.com timeout=3000
signout
exit
'''

PROFILES = {
    "wm": dict(exe="msmsgs.exe", version="4.7", main="MSBLClass", generic="MSBLGeneric",
               hidden="HiddenWindowClass", uimanager="MSBLUIManager", richedit="RichEdit20W"),
    "msn": dict(exe="msnmsgr.exe", version="5.0", main="MSNMSBLClass", generic="MSNMSBLGeneric",
                hidden="MSNHiddenWindowClass", uimanager="MsnMsgrUIManager", richedit="RichEdit20A"),
}


class SessionTest(unittest.TestCase):
    def test_session_is_played_and_recorded(self):
        for key, profile in PROFILES.items():
            with self.subTest(profile=key):
                r = bench().run(SESSION, messenger=key, deliverables=False, name="session-" + key)
                self.assertTrue(r.ok, r.describe())
                self.assertEqual(r.failures(), [], r.describe())
                self.assertIn("start exe=%s version=%s profile=%s" % (profile["exe"], profile["version"], key),
                              r.lines[0])
                self.assertTrue(r.lines_starting("window-created main class=%s " % profile["main"]))
                self.assertTrue(r.lines_starting("window-created generic class=%s list=SysListView32"
                                                 % profile["generic"]))
                self.assertTrue(r.lines_starting("window-created hidden class=" + profile["hidden"]))
                self.assertTrue(r.lines_starting("window-created uimanager class=" + profile["uimanager"]))
                conv = r.lines_starting("window-created conv:bob@example.com ")
                self.assertEqual(len(conv), 1, r.describe())
                self.assertIn("class=IMWindowClass history=%s input=%s" % (profile["richedit"], profile["richedit"]),
                              conv[0])

                contacts = [l for l in r.lines if l.startswith("contacts ")]
                self.assertEqual(contacts, [
                    'contacts ""',
                    'contacts "Bob B (ONLINE)"',
                    'contacts "Bob B (ONLINE)|Carol (OFFLINE)"',
                    'contacts "Bob B (AWAY)|Carol (OFFLINE)"',
                    'contacts "Bob B (AWAY)|Carol (ONLINE)"',
                    'contacts "Bob B (AWAY)|Carol (OFFLINE)"',
                    'contacts ""',  # signed out
                ], r.describe())

                events = [l for l in r.lines if l.startswith("event ")]
                self.assertEqual(events, [
                    'event OnSignin hr=0x00000000 sinks=0',
                    'event OnContactListAdd hr=0x00000000 contact="bob@example.com" sinks=0',
                    'event OnContactListAdd hr=0x00000000 contact="carol@example.com" sinks=0',
                    'event OnContactStatusChange contact="bob@example.com" status=AWAY sinks=0',
                    'event OnContactStatusChange contact="carol@example.com" status=ONLINE sinks=0',
                    'event OnContactStatusChange contact="carol@example.com" status=OFFLINE sinks=0',
                    'event OnSignout sinks=0',
                ])

                history, rest = unquote(r.last("history conv:bob@example.com"))
                self.assertEqual(history, "Bob B says:\nHi {:-)} there {(Y)}{(Y)}\n"
                                          "Alice A says:\nback {;-)}\n"
                                          "Alice A says:\nsecond\n")
                objects = parse_objects(rest.split("objects=", 1)[1])
                self.assertEqual(objects, history_positions(history))
                # Enter on an empty input sends nothing.
                self.assertEqual(r.lines_starting("send conv:bob@example.com"),
                                 ["send conv:bob@example.com nothing-to-send"])
                self.assertEqual(unquote(r.last("title conv:bob@example.com"))[0], "Bob B - Conversation")
                self.assertEqual(unquote(r.last("input conv:bob@example.com"))[0], "")

                # Opened from the contact list's context menu; a message to a contact who
                # went offline is not delivered.
                self.assertTrue(r.lines_starting("window-created conv:carol@example.com"))
                self.assertIn('sent conv:carol@example.com delivered=no text="hello carol"', r.lines)
                self.assertIn("window-destroyed conv:carol@example.com", r.lines)
                # TrackPopupMenu tells the owner with WM_INITMENU while the cursor is over
                # the contact list, which is what the plug-in checks.
                self.assertEqual(r.lines_starting("initmenu generic"),
                                 ["initmenu generic cursor-over=SysListView32"] * 2)
                menu = r.lines_starting('context-menu contact="bob@example.com"')
                self.assertEqual(menu, ['context-menu contact="bob@example.com" item="View Profile" '
                                        'chosen returncmd result=1503'])
                self.assertIn("messenger-command generic id=1503", r.lines)
                self.assertIn("messenger-command main id=1102", r.lines)
                menubar = r.last("menubar main")
                self.assertTrue(menubar.startswith('"File[Sign In...|Sign Out|-|Close|Exit]|Actions['), menubar)

    def test_variants_and_delayed_ui_manager(self):
        r = bench().run('''
            option ui-manager-delay=1500
            wait window MsnMsgrUIManager timeout=6000
            exit
        ''', messenger="msn", version="6.0", windows_version="win2k", deliverables=False, name="variant")
        self.assertTrue(r.ok, r.describe())
        self.assertIn("start exe=msnmsgr.exe version=6.0 profile=msn windows=5.0 ", r.lines[0])
        created = r.lines.index("window-created uimanager class=MsnMsgrUIManager")
        waited = next(i for i, l in enumerate(r.lines)
                      if l.startswith("step ") and l.endswith("wait window MsnMsgrUIManager timeout=6000"))
        self.assertGreater(created, waited, r.describe())

        r = bench().run("exit\n", messenger="wm", deliverables=False, name="variant-default")
        self.assertIn("start exe=msmsgs.exe version=4.7 profile=wm windows=5.1 ", r.lines[0])
        self.assertTrue(r.ok and not r.crashed, r.describe())

    def test_a_crash_ends_the_run_at_once_and_is_reported(self):
        r = bench().run("signin alice@example.com\ncrash\nexit\n", deliverables=False, timeout=60, name="crash")
        self.assertFalse(r.timed_out, "a crash must not wait for the timeout")
        self.assertTrue(r.crashed, r.describe())
        self.assertEqual(r.lines[-1], "step 2 crash")


if __name__ == "__main__":
    unittest.main()
