#!/usr/bin/python3
"""The hook library in the stand-in messenger, whose message loop peeks at each
message before it takes it, as the messengers do: commands and keys reach the
plug-in once; commands naming windows of other processes are ignored, on the
loader's relay and posted directly; a loader that hangs holds neither the
plug-in's start nor the messenger's end; a messenger that ends with the hooks
still in saves the plug-in's stores."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))

import olefile  # noqa: E402
from driver import LOADER_END, LOADER_START, Bench  # noqa: E402
from streams import log_index  # noqa: E402

PROBE = os.environ.get("PARLEYM_PROBE_PLUGIN")
LOADER = "class:ParleymLdrClass"

# The probe plug-in logs every call it gets.
PROBE_ROAD = r'''
wait file probe.log "Reported window 1" timeout=15000
signin alice@example.com Alice
add-contact bob@example.com Bob
open bob@example.com
type bob@example.com "hi"
enter bob@example.com
sleep 300
post class:ParleymLdrClass 273 30001 0
post class:ParleymLdrClass 273 30005 class:ParleymLdrClass
post class:ParleymLdrClass 273 30006 class:ParleymLdrClass
post class:ParleymLdrClass 273 30007 class:ParleymLdrClass
post class:ParleymLdrClass 273 30008 class:ParleymLdrClass
post class:ParleymLdrClass 273 30027 class:ParleymLdrClass
wait file probe.log "OnCommand 30001"
sleep 500
post class:ParleymLdrClass 273 105 0
wait no-window ParleymLdrClass "Parleym Loader"
exit
'''

# The real plug-in, started by a loader launched once the messenger runs.
REAL_ROAD = LOADER_START + r'''
signin me@parleym.example Me
add-contact bob@parleym.example Bob status=ONLINE
sleep 300
dump
menu main Parleym "Enable logging"
sleep 300
dump
post class:ParleymLdrClass 273 30013 0
sleep 300
dump
# A window of another process that looks like a conversation window, and the loader's own.
spawn ForeignProcess.exe conversation 60
wait window IMWindowClass Foreign
post class:ParleymLdrClass 273 30005 class:IMWindowClass
post class:ParleymDispWnd 273 30005 class:IMWindowClass
post class:ParleymDispWnd 273 30005 class:ParleymLdrClass
sleep 500
open bob@parleym.example
receive bob@parleym.example "hello from bob"
sleep 500
screenshot foreign-and-own
''' + LOADER_END

# Hooks installed by a loader that then answers nothing; the messenger is quit
# while they are in, its conversation window open and the user signed in.
HUNG_LOADER_EXIT = r'''
spawn ForeignProcess.exe hung-loader 120
wait sinks 1 timeout=20000
wait menu main Parleym timeout=10000
signin me@parleym.example Me
add-contact bob@parleym.example Bob status=ONLINE
open bob@parleym.example
receive bob@parleym.example "still saved at exit"
sleep 500
exit-process
'''


def probe_log(result):
    data = result.data_file("probe.log")
    return data.decode("cp1252").splitlines() if data else []


def users_file(bench):
    """users.dat without accounts, written by the build's own tool."""
    if not bench.built("tools/users-dat.exe"):
        raise unittest.SkipTest("users-dat.exe not built")
    return bench.fresh_users_dat()


def logged(result):
    """{stream name: bytes} of the one account in logs.dat, and its index's contacts."""
    logs = olefile.OleFileIO(os.path.join(result.data_dir, "logs.dat"))
    try:
        account, (_, _, entries) = log_index(logs)
        streams = {p[1]: logs.openstream(p).read() for p in logs.listdir()
                   if p[0] == account and len(p) == 2 and p[1] != "conversations"}
    finally:
        logs.close()
    return streams, [entry["contact"] for entry in entries]


class HookInStandinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = Bench()
        cls.foreign = cls.bench.built("testbench/bin/ForeignProcess.exe")

    def real_run(self, scenario, name, timeout):
        return self.bench.run(scenario, messenger="wm", windows_version="winxp", name=name, timeout=timeout,
                              data_files={"users.dat": users_file(self.bench)},
                              extra_files={"ForeignProcess.exe": self.foreign})

    @unittest.skipUnless(PROBE, "PARLEYM_PROBE_PLUGIN not set")
    def test_keys_and_commands_once_and_no_window_commands_through_the_relay(self):
        r = self.bench.run(PROBE_ROAD, messenger="wm", windows_version="winxp", loader=True, plugin=PROBE,
                           name="hook-probe", timeout=90)
        self.assertTrue(r.ok, r.describe())
        log = probe_log(r)
        self.assertEqual([l for l in log if l.startswith("OnKeyDown")], ["OnKeyDown 13 RichEdit20W"], log)
        self.assertEqual(log.count("OnCommand 30001 ParleymDispWnd -"), 1, log)
        self.assertEqual([l for l in log if "ParleymLdrClass" in l], [], log)

    def test_logging_switch_flips_once_and_foreign_windows_are_not_tracked(self):
        r = self.real_run(REAL_ROAD, "hook-real", 120)
        self.assertTrue(r.ok, r.describe())
        self.assertEqual(r.failures(), [], r.describe())
        states = ["*Enable logging" in line for line in r.lines_starting("dump menubar main")]
        # On at sign-in, off from the main window's popup, on again from the tray.
        self.assertEqual(states, [True, False, True], r.describe())
        streams, contacts = logged(r)
        # Only Bob's own window took a conversation number.
        self.assertEqual(sorted(streams), ["1"], contacts)
        self.assertEqual(contacts, ["bob@parleym.example"])
        self.assertIn(b"hello from bob", streams["1"])
        print("screenshots:", r.out_dir)

    def test_a_hung_loader_and_an_exit_with_the_hooks_in(self):
        r = self.real_run(HUNG_LOADER_EXIT, "hook-exit", 60)
        self.assertFalse(r.timed_out, r.describe())
        self.assertTrue(r.ok, r.describe())
        self.assertIn("exit-process", r.lines)
        streams, contacts = logged(r)
        self.assertEqual(contacts, ["bob@parleym.example"])
        self.assertIn(b"still saved at exit", streams["1"])
        stats = olefile.OleFileIO(os.path.join(r.data_dir, "stats.dat"))
        try:
            sessions = [p for p in stats.listdir() if p[-1] == "sessions"]
            self.assertEqual(len(sessions), 1, stats.listdir())
            self.assertGreater(stats.get_size(sessions[0]), 4)
        finally:
            stats.close()


if __name__ == "__main__":
    unittest.main()
