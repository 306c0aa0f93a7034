#!/usr/bin/python3
"""The loader and the hook library with the stand-in messenger, the probe plug-in
standing in for ParleymPlugin.dll (it appends every call it receives to probe.log
in the data folder and plays the plug-in's side of the loader protocol).

Wine never unmaps a hook library when its hooks are removed; where Windows would,
the stand-in frees it itself (scenario step free-library)."""
import os
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))

from driver import Bench  # noqa: E402

PROBE = os.environ.get("PARLEYM_PROBE_PLUGIN")
LOADER = "class:ParleymLdrClass"


def probe_log(result):
    data = result.data_file("probe.log")
    return data.decode("cp1252").splitlines() if data else []


def command(identifier):
    return "post %s 273 %d 0" % (LOADER, identifier)


# The loader is ended cleanly at the end of each run: a loader killed from outside
# leaves its hooks with Wine, which would map the old run's library next time.
END_LOADER = "\n".join([
    "post %s 273 105 0" % LOADER,
    'wait no-window ParleymLdrClass "Parleym Loader"',
])


def refusal(text):
    return 'answer caption=Error text="%s" button=OK' % text


ROAD = "\n".join([
    'wait file probe.log "Reported window 1" timeout=15000',
    # A tray command reaches the plug-in's dispatch window in the messenger.
    command(30001),
    'wait file probe.log "OnCommand 30001 ParleymDispWnd"',
    # Locked: neither Exit nor Disable.
    command(30011),
    'wait file probe.log "Reported locked 1"',
    refusal("Messenger client is locked. You must unlock it before quit Parleym"),
    command(105),
    "wait answered",
    refusal("Messenger client is locked. You must unlock it before disable Parleym"),
    command(32771),
    "wait answered",
    command(30011),
    'wait file probe.log "Reported locked 0"',
    # A plug-in dialog open: neither Exit nor Disable.
    command(30012),
    'wait file probe.log "Reported dialog 1"',
    refusal("You must close all Parleym windows and dialog boxes before exit"),
    command(105),
    "wait answered",
    refusal("You must close all Parleym windows and dialog boxes before disable Parleym"),
    command(32771),
    "wait answered",
    command(30012),
    'wait file probe.log "Reported dialog 0"',
    # Now Disable is obeyed: the hooks go, and with them the library.
    command(32771),
    "sleep 500",
    "free-library ParleymHk.dll",
    'wait file probe.log "Destroy"',
    # Exit is obeyed too: the loader ends.
    command(105),
    'wait no-window ParleymLdrClass "Parleym Loader"',
    "exit",
])

# The plug-in asks for a reload (command 20000) while the messenger's user-interface
# manager does not exist yet; it appears three seconds later.
RESTART = "\n".join([
    "option no-ui-manager",
    'wait file probe.log "Reported window 1" timeout=15000',
    "post %s 273 20000 0" % LOADER,
    "sleep 300",
    "free-library ParleymHk.dll",
    'wait file probe.log "Destroy"',
    "sleep 2700",
    # Still waiting: no hooks, so the library has not come back.
    "wait no-module ParleymHk.dll timeout=100",
    "ui-manager",
    # The loader's broadcast after re-installing maps the library again.
    "wait module ParleymHk.dll timeout=5000",
    END_LOADER,
    "exit",
])


@unittest.skipUnless(PROBE, "PARLEYM_PROBE_PLUGIN not set")
class StandinRoadTest(unittest.TestCase):
    def test_whole_road_with_lock_and_dialog_reports(self):
        r = Bench().run(ROAD, messenger="wm", windows_version="winxp", loader=True, plugin=PROBE,
                        name="road", timeout=90)
        self.assertTrue(r.ok, r.describe())
        self.assertEqual(r.failures(), [], r.describe())
        log = probe_log(r)
        self.assertEqual(log[:2], ["GetInstance", "Init 1"], log)
        self.assertIn("Reported window 1", log)
        self.assertIn("OnCommand 30001 ParleymDispWnd -", log)
        # Shut-down: the plug-in's Uninit before the object goes, exactly once.
        self.assertEqual(log.count("Uninit"), 1, log)
        self.assertEqual(log[log.index("Uninit") + 1], "Destroy", log)
        boxes = [line for line in r.lines if line.startswith("box caption=")]
        self.assertEqual(len(boxes), 4, r.describe())
        self.assertFalse(r.lines_starting("box-unexpected"), r.describe())

    def test_restart_waits_for_the_user_interface_manager(self):
        r = Bench().run(RESTART, messenger="wm", windows_version="winxp", loader=True, plugin=PROBE,
                        name="restart", timeout=90)
        self.assertTrue(r.ok, r.describe())
        self.assertEqual(r.failures(), [], r.describe())
        once = ["GetInstance", "Init 1", "Reported window 1", "Uninit", "Destroy"]
        at_exit = "Detach at process exit"
        # Window events depend on when the library maps; the life cycle does not.
        log = [line for line in probe_log(r) if line in once or line == at_exit]
        # Loaded, unloaded with the hooks, loaded again; the stand-in then ends with the
        # library still in, where the plug-in's own detach is the last word.
        self.assertEqual(log, once + once[:3] + [at_exit], probe_log(r))

    def test_which_messenger_processes_start_the_plugin(self):
        cases = [
            ("wm", None, "winxp", ["Init 1"]),
            ("wm", None, "win2k", []),
            ("msn", None, "win2k", ["Init 2"]),
            ("msn", None, "winxp", []),
            ("msn", "6.0", "win2k", []),
        ]
        for messenger, version, windows, expected in cases:
            with self.subTest(messenger=messenger, version=version, windows=windows):
                r = Bench().run("sleep 2500\n" + END_LOADER + "\nexit", messenger=messenger, version=version, windows_version=windows,
                                loader=True, plugin=PROBE, name="kind", timeout=60)
                self.assertTrue(r.ok, r.describe())
                log = probe_log(r)
                self.assertEqual([line for line in log if line.startswith("Init")], expected, log)
        Bench().set_windows_version("msmsgs.exe", None)
        Bench().set_windows_version("msnmsgr.exe", None)


if __name__ == "__main__":
    unittest.main()
