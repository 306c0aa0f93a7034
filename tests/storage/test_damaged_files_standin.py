#!/usr/bin/python3
"""Damaged data files in the stand-in messenger with the real loader, hook library and
plug-in. A first run makes all five files the ordinary way; then each file is given
every damage a disk or a crash can leave (cut at several lengths, zeroed header,
a text, a zip, random bytes, tables and directory pointing outside or looping, a
looping stream, a foreign compound file, counts larger than the data) and the plug-in
starts on it: its message and nothing else, no crash, no hang, the damaged file
byte-for-byte as it was, and the features whose files are intact still working.

The damages are grouped into four runs: logs files by sign-in (each account has its
own logs path), statistics and offline messages by reloading the plug-in (the
loader's Enable, and the library freed as Windows unmaps it), the object cache and
the settings by starting the loader again after each refused start."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

import damage  # noqa: E402
import olefile  # noqa: E402
from benchtest import bench, unquote  # noqa: E402

ME = "me@parleym.example"
BOB = "bob@parleym.example"
CAROL = "carol@parleym.example"
NO_PASSWORD = hashlib.md5(b"").hexdigest()
CMD = r"C:\windows\system32\cmd.exe"
LOADER = "class:ParleymLdrClass"
ENABLE = "post %s 273 32771 0" % LOADER

START = r'''
wait no-window ParleymLdrClass timeout=10000
spawn ParleymLdr.exe
wait sinks 1 timeout=30000
wait menu main Parleym timeout=10000
'''
STOP = r'''
post class:ParleymLdrClass 16
wait no-window ParleymLdrClass timeout=10000
exit
'''

# Made the ordinary way: a logged conversation with an emoticon (cached object),
# statistics, and an offline message for Carol.
SEED = START + r'''
signin me@parleym.example "Me Myself"
add-contact bob@parleym.example "Bob B" status=ONLINE
add-contact carol@parleym.example "Carol C" status=OFFLINE
receive bob@parleym.example "hello :-) there"
sleep 1200
open carol@parleym.example
wait title conv:carol@parleym.example "Carol C - Offline message" timeout=5000
type carol@parleym.example "kept for carol"
enter carol@parleym.example
sleep 300
close carol@parleym.example
close bob@parleym.example
sleep 300
signout
sleep 300
''' + STOP

# Every compound data file gets these; each store adds counts of its own streams.
COMMON = ["zero-length", "cut-in-header", "cut-in-directory", "cut-half", "zeroed-header", "text", "zip",
          "random", "fat-past-end", "directory-past-end", "directory-loop", "mini-stream-past-end",
          "foreign-compound", "stream-loop", "tree-loop"]


def compound_damages(data, stream, counts):
    """{kind: bytes}: the common damages (the loop in `stream`) and the given
    {kind: (stream, position)} counts set far beyond the data."""
    found = damage.common_damages(data, looping_stream=stream)
    c = damage.Compound(data)
    for kind, (path, position) in counts.items():
        found[kind] = c.stream_count(path, position, 0x00FFFFFF)
    return found


def boxes(lines):
    """(caption, text) of every message box in the given transcript lines."""
    found = []
    for line in lines:
        match = re.match(r'box(?:-unexpected)? caption=(".*)', line)
        if match and line.startswith("box "):
            caption, rest = unquote(match.group(1))
            text, _ = unquote(rest[len(" text="):])
            found.append((caption, text))
    return found


def slices(result, marker):
    """The transcript cut at the marker steps `wait no-window <marker>-<kind>`
    (no such window: they only mark where a case starts): {kind: lines}."""
    parts, current = {}, None
    for line in result.lines:
        match = re.match(r"step \d+ wait no-window %s-([a-z0-9-]+) " % re.escape(marker), line)
        if match:
            current = match.group(1)
            parts[current] = []
        elif current:
            parts[current].append(line)
    return parts


class DamagedFilesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.users_tool = os.path.join(cls.bench.binary_dir, "tools", "users-dat.exe")
        cls.folder = os.path.join(cls.bench.drive_c, "ParleymDamaged-%d" % os.getpid())
        shutil.rmtree(cls.folder, ignore_errors=True)
        os.makedirs(cls.folder)
        cls.fresh_users = cls.users(["create"])
        seed = cls.bench.run(SEED, messenger="wm", windows_version="winxp", name="damage-seed",
                             data_files={"users.dat": cls.fresh_users}, timeout=90)
        assert seed.ok and not seed.failures(), seed.describe()
        cls.seed = {name: seed.data_file(name) for name in
                    ("users.dat", "logs.dat", "stats.dat", "offlinemsg.dat", "objcache.dat")}
        cls.results = {}

    @classmethod
    def tearDownClass(cls):
        cls.bench.set_windows_version("msmsgs.exe", None)

    @classmethod
    def users(cls, arguments):
        """users.dat made by the build's tool with the given arguments after the file name."""
        path = os.path.join(cls.folder, "users-tool.dat")
        if os.path.exists(path):
            os.remove(path)
        command = [arguments[0], cls.bench.windows_path(path)] + arguments[1:]
        subprocess.run(["/usr/bin/wine", cls.users_tool] + command, env=cls.bench.env, check=True, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(path, "rb") as f:
            return f.read()

    def write(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, name):
        with open(os.path.join(self.folder, name), "rb") as f:
            return f.read()

    def assertRanCleanly(self, result):
        self.assertFalse(result.timed_out, result.describe())
        self.assertFalse(result.crashed, result.describe())
        self.assertEqual([f for f in result.failures() if not f.startswith("box-unexpected")], [],
                         result.describe())

    def assertLogged(self, data, account, text):
        """The account's sub-storage in a logs file holds a conversation showing `text`."""
        ole = olefile.OleFileIO(data)
        found = False
        for path in ole.listdir():
            if len(path) == 2 and path[1] != "conversations":
                if text.encode("cp1252") in ole.openstream(path).read():
                    found = True
        self.assertTrue(found, "%s not logged for %s: %s" % (text, account, ole.listdir()))

    # -- logs.dat and a configured logs file: one account per damage ---------------

    def test_logs_files(self):
        kinds = compound_damages(self.seed["logs.dat"], "1/conversations", {"count-too-large": ("userids", 4)})
        accounts, scenario = [], [START]
        paths = {}
        for i, (kind, data) in enumerate(sorted(kinds.items())):
            account = "a%02d@parleym.example" % i
            paths[kind] = self.write("logs-%s.dat" % kind, data)
            accounts += [account, NO_PASSWORD, self.bench.windows_path(paths[kind])]
            if i == 0:
                scenario.append('answer OK caption=Error text="logs-%s.dat" screenshot=logs-box' % kind)
            scenario += ["wait no-window logs-%s timeout=100" % kind,
                         'signin %s "A %d"' % (account, i),
                         'add-contact %s "Bob B" status=ONLINE' % BOB,
                         'receive %s "said to %s"' % (BOB, account),
                         "sleep 300", "close %s" % BOB, "sleep 200", "signout", "sleep 200"]
        # Last, an account whose own file is whole: logged there.
        whole = self.write("logs-whole.dat", self.seed["logs.dat"])
        accounts += ["zz@parleym.example", NO_PASSWORD, self.bench.windows_path(whole)]
        scenario += ["wait no-window logs-whole timeout=100",
                     'signin zz@parleym.example "Z"', 'add-contact %s "Bob B" status=ONLINE' % BOB,
                     'receive %s "said to zz"' % BOB, "sleep 300", "close %s" % BOB, "sleep 200", "signout",
                     "sleep 200", STOP]
        users = self.users(["write"] + accounts)
        result = self.bench.run("\n".join(scenario), messenger="wm", windows_version="winxp", name="damage-logs",
                                data_files={"users.dat": users, "logs.dat": self.seed["logs.dat"],
                                            "stats.dat": self.seed["stats.dat"],
                                            "offlinemsg.dat": self.seed["offlinemsg.dat"],
                                            "objcache.dat": self.seed["objcache.dat"]}, timeout=240)
        self.results["logs"] = result
        print("logs: %d damages tried; screenshots in %s" % (len(kinds), result.out_dir))
        self.assertRanCleanly(result)
        parts = slices(result, "logs")
        for i, (kind, data) in enumerate(sorted(kinds.items())):
            with self.subTest(kind=kind):
                shown = boxes(parts[kind])
                self.assertEqual(len(shown), 1, shown)
                caption, text = shown[0]
                self.assertEqual(caption, "Error")
                self.assertRegex(text, r"^Failed to (open storage|access db content in file) %s\. Code: 0x8003[0-9A-F]{4}$"
                                 % re.escape(self.bench.windows_path(paths[kind])))
                self.assertEqual(self.read("logs-%s.dat" % kind), data, "changed")
                # Logged into the default file instead.
                self.assertLogged(result.data_file("logs.dat"), "a%02d" % i, "said to a%02d@parleym.example" % i)
        self.assertEqual(boxes(parts["whole"]), [])
        self.assertLogged(self.read("logs-whole.dat"), "zz", "said to zz")
        self.assertIn("logs-box.bmp", [os.path.basename(p) for p in result.screenshots()])


    # -- stats.dat and offlinemsg.dat: the plug-in reloaded for each damage ---------

    def test_statistics_and_offline_messages(self):
        stats = compound_damages(self.seed["stats.dat"], "1/users",
                                 {"count-too-large": ("userids", 4), "account-count-too-large": ("1/users", 7)})
        offline = compound_damages(self.seed["offlinemsg.dat"], "1/messages",
                                   {"count-too-large": ("userids", 4), "account-count-too-large": ("1/messages", 0)})
        self.assertEqual(sorted(stats), sorted(offline))
        files = {}
        scenario = [START, 'signin %s "Me Myself"' % ME, 'add-contact %s "Bob B" status=ONLINE' % BOB,
                    'add-contact %s "Carol C" status=OFFLINE' % CAROL, "sleep 300", "signout", "sleep 300"]
        for i, kind in enumerate(sorted(stats)):
            files["stats-%s.dat" % kind] = stats[kind]
            files["offline-%s.dat" % kind] = offline[kind]
            if i == 0:
                scenario += ['answer OK caption=Error text="stats.dat" screenshot=stats-box',
                             'answer OK caption=Error text="offlinemsg.dat" screenshot=offline-box']
            scenario += [
                "wait no-window cycle-%s timeout=100" % kind,
                # Disabled: the hooks go and, as on Windows, the library with them.
                ENABLE, "sleep 300", "free-library ParleymHk.dll",
                "spawn %s /c copy /y stats-%s.dat stats.dat & copy /y offline-%s.dat offlinemsg.dat & echo ok> in-%s.txt"
                % (CMD, kind, kind, kind),
                "wait file in-%s.txt ok timeout=10000" % kind,
                ENABLE, "wait menu main Parleym timeout=15000", "sleep 300",
                'signin %s "Me Myself"' % ME, 'receive %s "cycle %s"' % (BOB, kind), "sleep 300",
                "close %s" % BOB, "sleep 300", "signout", "sleep 300",
                ENABLE, "sleep 300", "free-library ParleymHk.dll",
                "spawn %s /c copy /y stats.dat after-stats-%s.dat & copy /y offlinemsg.dat after-offline-%s.dat"
                " & echo ok> out-%s.txt" % (CMD, kind, kind, kind),
                "wait file out-%s.txt ok timeout=10000" % kind,
                # Enabled again for the next case's disable.
                ENABLE, "wait menu main Parleym timeout=15000", "sleep 300"]
        scenario += ["wait no-window cycle-end timeout=100", STOP]
        data = dict(files)
        data.update({"users.dat": self.fresh_users, "logs.dat": self.seed["logs.dat"], "stats.dat": self.seed["stats.dat"],
                     "offlinemsg.dat": self.seed["offlinemsg.dat"], "objcache.dat": self.seed["objcache.dat"]})
        result = self.bench.run("\n".join(scenario), messenger="wm", windows_version="winxp", name="damage-stores",
                                data_files=data, timeout=400)
        print("stats.dat and offlinemsg.dat: %d damages each; screenshots in %s" % (len(stats), result.out_dir))
        self.assertRanCleanly(result)
        parts = slices(result, "cycle")
        data_dir = self.bench.windows_path(result.data_dir)
        logs = olefile.OleFileIO(result.data_file("logs.dat"))
        logged = b"".join(logs.openstream(p).read() for p in logs.listdir() if p[0] == "1" and p[-1] != "conversations")
        for kind in sorted(stats):
            with self.subTest(kind=kind):
                shown = boxes(parts[kind])
                if kind == "account-count-too-large":
                    # The files open; each account's streams are read at sign-in.
                    self.assertEqual(len(shown), 2, shown)
                    self.assertIn(("Error", None), [(c, None) for c, t in shown])
                    texts = sorted(t for c, t in shown)
                    self.assertRegex(texts[0], r"^Failed to open statistics db\. Code 0x8003[0-9A-F]{4}$")
                    self.assertRegex(texts[1], r"^Failed to read offline messages\. Code: 0x8003[0-9A-F]{4}$")
                else:
                    self.assertEqual(len(shown), 4, shown)
                    for name, store_message in (("stats.dat", "Failed to initialize statistics"),
                                                ("offlinemsg.dat", "Failed to load offline messages")):
                        path = re.escape("%s\\%s" % (data_dir, name))
                        storage = [t for c, t in shown if c == "Error" and path.replace("\\", "") in t.replace("\\", "")]
                        self.assertEqual(len(storage), 1, shown)
                        self.assertRegex(storage[0], r"^Failed to (open storage|access db content in file) .*\. Code: "
                                                     r"0x8003[0-9A-F]{4}$")
                        self.assertIn(("Parleym", store_message), shown)
                self.assertEqual(result.data_file("after-stats-%s.dat" % kind), stats[kind], "stats.dat changed")
                self.assertEqual(result.data_file("after-offline-%s.dat" % kind), offline[kind],
                                 "offlinemsg.dat changed")
                # Conversations are still logged.
                self.assertIn(("cycle %s" % kind).encode(), logged)
        shots = [os.path.basename(p) for p in result.screenshots()]
        self.assertIn("stats-box.bmp", shots)
        self.assertIn("offline-box.bmp", shots)

    # -- objcache.dat and users.dat: a refused start each, then the loader again ----

    def test_object_cache_and_settings(self):
        cache = compound_damages(self.seed["objcache.dat"], "md5map", {"count-too-large": ("md5map", 0)})
        users = self.seed["users.dat"]
        settings = {
            "zero-length": b"", "cut-half": users[:len(users) // 2], "cut-last-byte": users[:-1],
            "zeroed-start": b"\0" * 16 + users[16:], "flipped-byte": users[:20] + bytes([users[20] ^ 0x40]) + users[21:],
            "text": damage.text_file(), "zip": damage.zip_file(), "random": damage.random_bytes(len(users), 4),
        }
        files, scenario = {}, []
        cases = [("objcache", kind, "objcache.dat", data) for kind, data in sorted(cache.items())]
        cases += [("users", kind, "users.dat", data) for kind, data in sorted(settings.items())]
        for n, (store, kind, name, data) in enumerate(cases):
            files["%s-%s.dat" % (store, kind)] = data
            if kind == "zip":
                scenario.append('answer OK caption=Parleym text="%s" screenshot=%s-box' %
                                ("object cache" if store == "objcache" else "user settings", store))
            scenario += [
                "wait no-window start-%s-%s timeout=100" % (store, kind),
                "spawn %s /c copy /y %s-%s.dat %s & echo ok> in-%d.txt" % (CMD, store, kind, name, n),
                "wait file in-%d.txt ok timeout=10000" % n,
                "spawn ParleymLdr.exe",
                # The refused start closes the loader.
                "wait no-window ParleymLdrClass timeout=20000", "sleep 300", "free-library ParleymHk.dll",
                "spawn %s /c copy /y %s after-%s-%s.dat & copy /y seed-%s %s & echo ok> out-%d.txt"
                % (CMD, name, store, kind, name, name, n),
                "wait file out-%d.txt ok timeout=10000" % n]
        # Whole files again: the plug-in starts as usual.
        scenario += ["wait no-window start-whole timeout=100", START, 'signin %s "Me Myself"' % ME,
                     "sleep 300", "signout", "sleep 300", STOP]
        data = dict(files)
        data.update({"users.dat": self.seed["users.dat"], "logs.dat": self.seed["logs.dat"],
                     "stats.dat": self.seed["stats.dat"], "offlinemsg.dat": self.seed["offlinemsg.dat"],
                     "objcache.dat": self.seed["objcache.dat"], "seed-objcache.dat": self.seed["objcache.dat"],
                     "seed-users.dat": self.seed["users.dat"]})
        result = self.bench.run("\n".join(scenario), messenger="wm", windows_version="winxp", name="damage-start",
                                data_files=data, timeout=400)
        print("objcache.dat: %d damages, users.dat: %d damages; screenshots in %s"
              % (len(cache), len(settings), result.out_dir))
        self.assertRanCleanly(result)
        parts = slices(result, "start")
        for store, kind, name, data in cases:
            with self.subTest(store=store, kind=kind):
                shown = boxes(parts["%s-%s" % (store, kind)])
                if store == "objcache":
                    self.assertEqual(shown, [("Parleym", "Failed to initalize object cache")])
                else:
                    self.assertEqual(len(shown), 1, shown)
                    self.assertEqual(shown[0][0], "Parleym")
                    self.assertRegex(shown[0][1], r"^Failed to load user settings\. (Invalid file\.|Error code: \d+)$")
                self.assertEqual(result.data_file("after-%s-%s.dat" % (store, kind)), data, "%s changed" % name)
        self.assertEqual(boxes(parts["whole"]), [])
        self.assertTrue(any(l.startswith("menubar main") and "Parleym[" in l for l in parts["whole"]))
        shots = [os.path.basename(p) for p in result.screenshots()]
        self.assertIn("objcache-box.bmp", shots)
        self.assertIn("users-box.bmp", shots)


if __name__ == "__main__":
    unittest.main()
