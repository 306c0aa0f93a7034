#!/usr/bin/python3
"""Damaged data files in the stand-in messenger with the real loader, hook library and
plug-in. A first run makes all five files the ordinary way; then each file is given
every damage a disk or a crash can leave (cut at several lengths, zeroed header,
a text, a zip, random bytes, tables and directory pointing outside or looping, a
looping stream, a foreign compound file, counts larger than the data) and the plug-in
starts on it: no crash, no hang, and the features whose files are intact still working.
A compound file of ours that fails the look before opening is salvaged when anything
of its store's can be read (SALVAGED): one box says what was recovered, the damaged
bytes are kept beside it byte for byte, and a sound fresh file takes its place. A data
file of zero length (users.dat aside) is what an end during its making leaves: it is made
anew in place and used, without a message. Any other damage gets its message and
nothing else, the damaged file byte for byte as it was.

The damages are grouped into three runs after the first: logs files by sign-in (each
account has its own logs path), statistics and offline messages by reloading the
plug-in (the loader's Enable, and the library freed as Windows unmaps it), the object
cache and the settings by starting the loader again after each refused start. Each
run prints the cases tried and passed per file."""
import hashlib
import os
import re
import shutil
import struct
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
close carol@parleym.example
close bob@parleym.example
signout
''' + STOP

def compound_damages(data, stream, counts):
    """{kind: bytes}: the common damages (the loop in `stream`) and the given
    {kind: (stream, position)} counts set far beyond the data."""
    found = damage.common_damages(data, looping_stream=stream)
    c = damage.Compound(data)
    for kind, (path, position) in counts.items():
        assert position + 4 <= c.find(path)["size"], (kind, path)
        found[kind] = c.stream_count(path, position, 0x00FFFFFF)
    return found


def all_streams(data):
    """The bytes of every stream of a compound file, one after the other."""
    ole = olefile.OleFileIO(data)
    return b"".join(ole.openstream(path).read() for path in ole.listdir())


def streams_by_path(data):
    """{"storage/stream": bytes} of a compound file."""
    ole = olefile.OleFileIO(data)
    return {"/".join(path): ole.openstream(path).read() for path in ole.listdir()}


def digest_pairs(md5map):
    """(count, sorted pairs) of an object cache's digest map."""
    count = struct.unpack_from("<i", md5map, 0)[0]
    pairs, at = [], 4
    while at < len(md5map):
        texts = []
        for _ in range(2):
            length = struct.unpack_from("<i", md5map, at)[0]
            texts.append(md5map[at + 4:at + 4 + length])
            at += 4 + length
        pairs.append(tuple(texts))
    return count, sorted(pairs)


# A digest map whose count or a length does not match its pairs is read as far
# as its pairs are whole (an append cut short leaves such a map), so the
# plug-in starts on these.
STARTING = {("objcache", "count-too-large"), ("objcache", "length-too-large"), ("objcache", "zero-length")}
# A data file of zero length is what an end during its making leaves: it is made
# anew where it is, and used.
MADE_ANEW = "zero-length"

# Damaged compound files of ours of which something can still be read whole: what the
# salvage box says was recovered. The seed files hold one account with one conversation,
# one statistics record, one offline message and one cached picture. (A file cut inside
# its header, or whose directory lies past its end, has no directory left to read; one
# cut in half or without its mini stream has lost the account list with the rest.)
SALVAGED = {
    "logs": {"cut-half": "0 of 1 conversations recovered", "cut-in-directory": "0 of 0 conversations recovered",
             "cut-last-sector": "0 of 1 conversations recovered", "directory-loop": "1 of 1 conversations recovered",
             "fat-past-end": "0 of 0 conversations recovered", "stream-loop": "1 of 1 conversations recovered",
             "tree-loop": "1 of 1 conversations recovered"},
    "stats": {"cut-in-directory": "Statistics of 0 of 1 accounts recovered",
              "cut-last-sector": "Statistics of 0 of 1 accounts recovered",
              "directory-loop": "Statistics of 1 of 1 accounts recovered",
              "fat-past-end": "Statistics of 0 of 1 accounts recovered",
              "stream-loop": "Statistics of 1 of 1 accounts recovered",
              "tree-loop": "Statistics of 1 of 1 accounts recovered"},
    "offline": {kind: "Offline messages of 1 of 1 accounts recovered (1 message)"
                for kind in ("directory-loop", "fat-past-end", "stream-loop", "tree-loop")},
    "objcache": {kind: "1 of 1 cached pictures recovered" for kind in ("directory-loop", "stream-loop", "tree-loop")},
}


def salvage_text(path, recovered):
    """The salvage box's text, as a pattern: the file, what was recovered, the kept copy."""
    return r"^The file %s was damaged\. %s; the damaged file was kept as %s\.damaged-\d{8}-\d{6}\.$" % (
        re.escape(path), re.escape(recovered), re.escape(path))


def sound(data):
    """True for a compound file that every reader reads."""
    try:
        olefile.OleFileIO(data).close()
        return data[:8] == damage.SIGNATURE
    except Exception:
        return False


class Tally:
    """Cases tried and passed per file, printed at the end of each run."""

    def __init__(self, name):
        self.name, self.tried, self.passed = name, 0, 0

    def __str__(self):
        return "%s: %d cases tried, %d passed" % (self.name, self.tried, self.passed)


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

    @classmethod
    def sealed(cls, plain):
        """users.dat holding exactly these plain bytes."""
        path = os.path.join(cls.folder, "users-plain.bin")
        with open(path, "wb") as f:
            f.write(plain)
        return cls.users(["seal", cls.bench.windows_path(path)])

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
        kinds = compound_damages(self.seed["logs.dat"], "1/conversations",
                                 {"count-too-large": ("userids", 4), "length-too-large": ("userids", 8)})
        # The file opens; the account's index is read at sign-in, so this one is
        # the logs file of the account that owns storage 1 in it.
        index_damage = damage.Compound(self.seed["logs.dat"]).stream_count("1/conversations", 8, 0x00FFFFFF)
        accounts, scenario = [], [START]
        paths = {}
        for i, (kind, data) in enumerate(sorted(kinds.items())):
            account = "a%02d@parleym.example" % i
            paths[kind] = self.write("logs-%s.dat" % kind, data)
            accounts += [account, NO_PASSWORD, self.bench.windows_path(paths[kind])]
            if i == 0:
                scenario.append('answer OK caption=Error text="logs-%s.dat" screenshot=logs-box' % kind)
            if kind == min(SALVAGED["logs"]):
                scenario.append('answer OK caption=Parleym text="logs-%s.dat was damaged" screenshot=logs-salvage-box'
                                % kind)
            scenario += ["wait no-window logs-%s timeout=100" % kind,
                         'signin %s "A %d"' % (account, i),
                         'add-contact %s "Bob B" status=ONLINE' % BOB,
                         'receive %s "said to %s"' % (BOB, account),
                         "close %s" % BOB, "signout"]
        index_path = self.write("logs-index-count-too-large.dat", index_damage)
        accounts += [ME, NO_PASSWORD, self.bench.windows_path(index_path)]
        scenario += ["wait no-window logs-index-count-too-large timeout=100",
                     'signin %s "Me Myself"' % ME, 'add-contact %s "Bob B" status=ONLINE' % BOB,
                     'receive %s "said to me"' % BOB, "close %s" % BOB, "signout"]
        # Last, an account whose own file is whole: logged there.
        whole = self.write("logs-whole.dat", self.seed["logs.dat"])
        accounts += ["zz@parleym.example", NO_PASSWORD, self.bench.windows_path(whole)]
        scenario += ["wait no-window logs-whole timeout=100",
                     'signin zz@parleym.example "Z"', 'add-contact %s "Bob B" status=ONLINE' % BOB,
                     'receive %s "said to zz"' % BOB, "close %s" % BOB, "signout", STOP]
        users = self.users(["write"] + accounts)
        result = self.bench.run("\n".join(scenario), messenger="wm", windows_version="winxp", name="damage-logs",
                                data_files={"users.dat": users, "logs.dat": self.seed["logs.dat"],
                                            "stats.dat": self.seed["stats.dat"],
                                            "offlinemsg.dat": self.seed["offlinemsg.dat"],
                                            "objcache.dat": self.seed["objcache.dat"]}, timeout=240)
        tally = Tally("logs files")
        try:
            self.assertRanCleanly(result)
            parts = slices(result, "logs")
            default_logs = result.data_file("logs.dat")
            for i, (kind, data) in enumerate(sorted(kinds.items())):
                tally.tried += 1
                with self.subTest(kind=kind):
                    shown = boxes(parts[kind])
                    if kind == MADE_ANEW:
                        self.assertEqual(shown, [])
                        self.assertLogged(self.read("logs-%s.dat" % kind), "a%02d" % i, "said to a%02d@parleym.example" % i)
                        tally.passed += 1
                        continue
                    self.assertEqual(len(shown), 1, shown)
                    caption, text = shown[0]
                    if kind in SALVAGED["logs"]:
                        windows = self.bench.windows_path(paths[kind])
                        self.assertEqual(caption, "Parleym")
                        self.assertRegex(text, salvage_text(windows, SALVAGED["logs"][kind]))
                        kept = [n for n in os.listdir(self.folder) if n.startswith("logs-%s.dat.damaged-" % kind)]
                        self.assertEqual(len(kept), 1, kept)
                        self.assertEqual(self.read(kept[0]), data, "the damaged bytes were not kept")
                        # The account logs into its own file again, now fresh and sound.
                        fresh = self.read("logs-%s.dat" % kind)
                        self.assertTrue(sound(fresh))
                        self.assertLogged(fresh, "a%02d" % i, "said to a%02d@parleym.example" % i)
                        tally.passed += 1
                        continue
                    self.assertEqual(caption, "Error")
                    self.assertRegex(text, r"^Failed to (open storage|access db content in file) %s\. "
                                           r"Code: 0x8003[0-9A-F]{4}$" % re.escape(self.bench.windows_path(paths[kind])))
                    self.assertEqual(self.read("logs-%s.dat" % kind), data, "changed")
                    # Logged into the default file instead.
                    self.assertLogged(default_logs, "a%02d" % i, "said to a%02d@parleym.example" % i)
                    tally.passed += 1
            tally.tried += 1
            with self.subTest(kind="index-count-too-large"):
                self.assertEqual(boxes(parts["index-count-too-large"]),
                                 [("Error", "Failed to load logged conversations index. Code: 0x8003001E")])
                self.assertEqual(self.read("logs-index-count-too-large.dat"), index_damage, "changed")
                # The damaged index is neither written over nor logged around.
                self.assertNotIn(b"said to me", all_streams(default_logs))
                tally.passed += 1
            self.assertEqual(boxes(parts["whole"]), [])
            self.assertLogged(self.read("logs-whole.dat"), "zz", "said to zz")
            self.assertIn("logs-box.bmp", [os.path.basename(p) for p in result.screenshots()])
            self.assertIn("logs-salvage-box.bmp", [os.path.basename(p) for p in result.screenshots()])
        finally:
            print("%s; screenshots in %s" % (tally, result.out_dir))

    # -- stats.dat and offlinemsg.dat: the plug-in reloaded for each damage ---------

    def test_statistics_and_offline_messages(self):
        messages = damage.Compound(self.seed["offlinemsg.dat"]).stream("1/messages")
        first_name_length = struct.unpack_from("<i", messages, 4)[0]
        stats = compound_damages(self.seed["stats.dat"], "1/users",
                                 {"count-too-large": ("userids", 4), "length-too-large": ("userids", 8),
                                  "account-count-too-large": ("1/users", 7),
                                  "account-length-too-large": ("1/users", 15),
                                  "account-inner-count-too-large": ("1/sessions", 0)})
        offline = compound_damages(self.seed["offlinemsg.dat"], "1/messages",
                                   {"count-too-large": ("userids", 4), "length-too-large": ("userids", 8),
                                    "account-count-too-large": ("1/messages", 0),
                                    "account-length-too-large": ("1/messages", 4),
                                    "account-inner-count-too-large": ("1/messages", 8 + first_name_length)})
        self.assertEqual(sorted(stats), sorted(offline))
        kinds = sorted(stats)

        def swap(done, following):
            """Disabled (the hooks go and, as on Windows, the library with them), then one
            command for the files: what case `done` left, kept aside (a damaged file kept
            beside by a salvage under a name of its own), and case `following`'s damaged
            files put in place (the whole seeds after the last case)."""
            copies = []
            if done:
                copies += ["copy /y stats.dat after-stats-%s.dat" % done,
                           "copy /y offlinemsg.dat after-offline-%s.dat" % done,
                           "move /y stats.dat.damaged-* kept-stats-%s.dat" % done,
                           "move /y offlinemsg.dat.damaged-* kept-offline-%s.dat" % done]
            stats_file, offline_file = (("stats-%s.dat" % following, "offline-%s.dat" % following) if following
                                        else ("seed-stats.dat", "seed-offline.dat"))
            copies += ["copy /y %s stats.dat" % stats_file, "copy /y %s offlinemsg.dat" % offline_file]
            mark = "swapped-%s.txt" % (done or "start")
            return [ENABLE, "sleep 300", "free-library ParleymHk.dll",
                    "spawn %s /c %s & echo ok> %s" % (CMD, " & ".join(copies), mark),
                    "wait file %s ok timeout=10000" % mark]

        files = {}
        scenario = [START, 'signin %s "Me Myself"' % ME, 'add-contact %s "Bob B" status=ONLINE' % BOB,
                    'add-contact %s "Carol C" status=OFFLINE' % CAROL, "signout"] + swap(None, kinds[0])
        for i, kind in enumerate(kinds):
            files["stats-%s.dat" % kind] = stats[kind]
            files["offline-%s.dat" % kind] = offline[kind]
            if i == 0:
                scenario += ['answer OK caption=Error text="stats.dat" screenshot=stats-box',
                             'answer OK caption=Error text="offlinemsg.dat" screenshot=offline-box']
            if kind == min(SALVAGED["stats"]):
                scenario += ['answer OK caption=Parleym text="stats.dat was damaged" screenshot=stats-salvage-box',
                             'answer OK caption=Parleym text="offlinemsg.dat was damaged" screenshot=offline-salvage-box']
            scenario += [
                "wait no-window cycle-%s timeout=100" % kind,
                ENABLE, "wait menu main Parleym timeout=15000", "sleep 300",
                'signin %s "Me Myself"' % ME, 'receive %s "cycle %s"' % (BOB, kind), "close %s" % BOB, "signout"]
            scenario += swap(kind, kinds[i + 1] if i + 1 < len(kinds) else None)
        scenario += [ENABLE, "wait menu main Parleym timeout=15000", "sleep 300",
                     "wait no-window cycle-end timeout=100", STOP]
        data = dict(files)
        data.update({"users.dat": self.fresh_users, "logs.dat": self.seed["logs.dat"], "stats.dat": self.seed["stats.dat"],
                     "offlinemsg.dat": self.seed["offlinemsg.dat"], "objcache.dat": self.seed["objcache.dat"],
                     "seed-stats.dat": self.seed["stats.dat"], "seed-offline.dat": self.seed["offlinemsg.dat"]})
        result = self.bench.run("\n".join(scenario), messenger="wm", windows_version="winxp", name="damage-stores",
                                data_files=data, timeout=400)
        tallies = {"stats": Tally("stats.dat"), "offline": Tally("offlinemsg.dat")}
        try:
            self.assertRanCleanly(result)
            parts = slices(result, "cycle")
            data_dir = self.bench.windows_path(result.data_dir)
            logs = olefile.OleFileIO(result.data_file("logs.dat"))
            logged = b"".join(logs.openstream(p).read() for p in logs.listdir()
                              if p[0] == "1" and p[-1] != "conversations")
            stores = {"stats": ("stats.dat", stats, "Failed to initialize statistics",
                                r"Failed to open statistics db\. Code 0x8003[0-9A-F]{4}", "statistic"),
                      "offline": ("offlinemsg.dat", offline, "Failed to load offline messages",
                                  r"Failed to read offline messages\. Code: 0x8003[0-9A-F]{4}", "offline")}
            # A salvage or an account's stream shows one box, any other damage two.
            def boxes_expected(kind):
                return sum(1 if kind in SALVAGED[s] or kind.startswith("account-") else 2 for s in stores)

            for kind in sorted(stats):
                shown = boxes(parts[kind])
                for store, (name, damaged, store_message, account_message, word) in sorted(stores.items()):
                    tallies[store].tried += 1
                    with self.subTest(store=store, kind=kind):
                        path = "%s\\%s" % (data_dir, name)
                        own = [(c, t) for c, t in shown if path in t or word in t]
                        if kind == MADE_ANEW or kind in SALVAGED[store]:
                            if kind == MADE_ANEW:
                                self.assertEqual(shown, [])
                                self.assertIn("userids", streams_by_path(result.data_file("after-%s-%s.dat" % (store, kind))))
                                self.assertIn(("cycle %s" % kind).encode(), logged)
                            else:
                                # Salvaged: one box, the damaged bytes kept, a fresh sound file used.
                                self.assertEqual(len(own), 1, shown)
                                self.assertEqual(own[0][0], "Parleym")
                                self.assertRegex(own[0][1], salvage_text(path, SALVAGED[store][kind]))
                                self.assertEqual(result.data_file("kept-%s-%s.dat" % (store, kind)), damaged[kind],
                                                 "the damaged bytes were not kept")
                                self.assertTrue(sound(result.data_file("after-%s-%s.dat" % (store, kind))))
                                self.assertIn(("cycle %s" % kind).encode(), logged)
                                self.assertEqual(len(shown), boxes_expected(kind), shown)
                            tallies[store].passed += 1
                            continue
                        if kind.startswith("account-"):
                            # The file opens; the account's streams are read at sign-in.
                            self.assertEqual(len(own), 1, shown)
                            self.assertEqual(own[0][0], "Error")
                            self.assertRegex(own[0][1], "^%s$" % account_message)
                        else:
                            self.assertEqual(len(own), 2, shown)
                            self.assertIn(("Parleym", store_message), own)
                            storage = [t for c, t in own if c == "Error" and path in t]
                            self.assertEqual(len(storage), 1, shown)
                            self.assertRegex(storage[0], r"^Failed to (open storage|access db content in file) %s\. "
                                                         r"Code: 0x8003[0-9A-F]{4}$" % re.escape(path))
                        self.assertEqual(len(shown), boxes_expected(kind), shown)
                        self.assertEqual(result.data_file("after-%s-%s.dat" % (store, kind)), damaged[kind],
                                         "%s changed" % name)
                        # Conversations are still logged.
                        self.assertIn(("cycle %s" % kind).encode(), logged)
                        tallies[store].passed += 1
            shots = [os.path.basename(p) for p in result.screenshots()]
            self.assertIn("stats-box.bmp", shots)
            self.assertIn("offline-box.bmp", shots)
            self.assertIn("stats-salvage-box.bmp", shots)
            self.assertIn("offline-salvage-box.bmp", shots)
        finally:
            print("%s; %s; screenshots in %s" % (tallies["stats"], tallies["offline"], result.out_dir))

    # -- objcache.dat and users.dat: a refused start each, then the loader again ----

    def test_object_cache_and_settings(self):
        cache = compound_damages(self.seed["objcache.dat"], "md5map",
                                 {"count-too-large": ("md5map", 0), "length-too-large": ("md5map", 4)})
        users = self.seed["users.dat"]
        record = b"".join(struct.pack("<i", len(t)) + t for t in (ME.encode(), NO_PASSWORD.encode(), b""))
        settings = {
            "zero-length": b"", "cut-half": users[:len(users) // 2], "cut-last-byte": users[:-1],
            "zeroed-start": b"\0" * 16 + users[16:], "flipped-byte": users[:20] + bytes([users[20] ^ 0x40]) + users[21:],
            "text": damage.text_file(), "zip": damage.zip_file(), "random": damage.random_bytes(len(users), 4),
            # Sealed with the right pass phrase, so only the records are wrong.
            "count-too-large": self.sealed(struct.pack("<i", 2) + record),
            "negative-count": self.sealed(struct.pack("<i", -1) + record),
            "length-too-large": self.sealed(struct.pack("<ii", 1, 1000) + b"me@pa"),
        }
        files, scenario = {}, []
        cases = [("objcache", kind, "objcache.dat", data) for kind, data in sorted(cache.items())]
        cases += [("users", kind, "users.dat", data) for kind, data in sorted(settings.items())]
        for n, (store, kind, name, data) in enumerate(cases):
            files["%s-%s.dat" % (store, kind)] = data
            if kind == "zip":
                scenario.append('answer OK caption=Parleym text="%s" screenshot=%s-box' %
                                ("object cache" if store == "objcache" else "user settings", store))
            salvaged = kind in SALVAGED.get(store, {})
            if salvaged and kind == min(SALVAGED[store]):
                scenario.append('answer OK caption=Parleym text="objcache.dat was damaged" '
                                'screenshot=objcache-salvage-box')
            scenario.append("wait no-window start-%s-%s timeout=100" % (store, kind))
            if n == 0:
                scenario += ["spawn %s /c copy /y %s-%s.dat %s & echo ok> in.txt" % (CMD, store, kind, name),
                             "wait file in.txt ok timeout=10000"]
            scenario.append("spawn ParleymLdr.exe")
            if (store, kind) in STARTING or salvaged:
                scenario += ["wait menu main Parleym timeout=15000", "sleep 300", "post %s 16" % LOADER]
            # What the case left, kept aside, and the next case's damaged file in place, in one command.
            following = ""
            if n + 1 < len(cases):
                following = " & copy /y %s-%s.dat %s" % (cases[n + 1][0], cases[n + 1][1], cases[n + 1][2])
            scenario += [
                # The refused start closes the loader.
                "wait no-window ParleymLdrClass timeout=20000", "sleep 300", "free-library ParleymHk.dll",
                "spawn %s /c copy /y %s after-%s-%s.dat & copy /y seed-%s %s & move /y %s.damaged-* kept-%s-%s.dat"
                "%s & echo ok> out-%d.txt" % (CMD, name, store, kind, name, name, name, store, kind, following, n),
                "wait file out-%d.txt ok timeout=10000" % n]
        # Whole files again: the plug-in starts as usual.
        scenario += ["wait no-window start-whole timeout=100", START, 'signin %s "Me Myself"' % ME, "signout", STOP]
        data = dict(files)
        data.update({"users.dat": self.seed["users.dat"], "logs.dat": self.seed["logs.dat"],
                     "stats.dat": self.seed["stats.dat"], "offlinemsg.dat": self.seed["offlinemsg.dat"],
                     "objcache.dat": self.seed["objcache.dat"], "seed-objcache.dat": self.seed["objcache.dat"],
                     "seed-users.dat": self.seed["users.dat"]})
        result = self.bench.run("\n".join(scenario), messenger="wm", windows_version="winxp", name="damage-start",
                                data_files=data, timeout=400)
        tallies = {"objcache": Tally("objcache.dat"), "users": Tally("users.dat")}
        try:
            self.assertRanCleanly(result)
            parts = slices(result, "start")
            for store, kind, name, data in cases:
                tallies[store].tried += 1
                with self.subTest(store=store, kind=kind):
                    part = parts["%s-%s" % (store, kind)]
                    shown = boxes(part)
                    after = result.data_file("after-%s-%s.dat" % (store, kind))
                    if (store, kind) == ("objcache", MADE_ANEW):
                        self.assertEqual(shown, [])
                        self.assertTrue(any(l.startswith("menubar main") and "Parleym[" in l for l in part))
                        self.assertIn("md5map", streams_by_path(after))
                    elif kind in SALVAGED.get(store, {}):
                        # The plug-in starts on the fresh file; the damaged bytes are kept.
                        path = "%s\\%s" % (self.bench.windows_path(result.data_dir), name)
                        self.assertEqual(len(shown), 1, shown)
                        self.assertEqual(shown[0][0], "Parleym")
                        self.assertRegex(shown[0][1], salvage_text(path, SALVAGED[store][kind]))
                        self.assertTrue(any(l.startswith("menubar main") and "Parleym[" in l for l in part))
                        self.assertEqual(result.data_file("kept-%s-%s.dat" % (store, kind)), data,
                                         "the damaged bytes were not kept")
                        self.assertTrue(sound(after))
                        pictures = {p: d for p, d in streams_by_path(after).items() if p.endswith("CONTENTS")}
                        seeded = {p: d for p, d in streams_by_path(self.seed["objcache.dat"]).items()
                                  if p.endswith("CONTENTS")}
                        self.assertEqual(pictures, seeded)
                    elif (store, kind) in STARTING:
                        # Every whole pair is kept and the map is written afresh; the objects
                        # themselves are untouched.
                        self.assertEqual(shown, [])
                        self.assertTrue(any(l.startswith("menubar main") and "Parleym[" in l for l in part))
                        before, now = streams_by_path(self.seed["objcache.dat"]), streams_by_path(after)
                        self.assertEqual(sorted(now), sorted(before))
                        for path in before:
                            if path != "md5map":
                                self.assertEqual(now[path], before[path], path)
                        if kind == "count-too-large":
                            self.assertEqual(digest_pairs(now["md5map"]), digest_pairs(before["md5map"]))
                    elif store == "objcache":
                        self.assertEqual(shown, [("Parleym", "Failed to initalize object cache")])
                        self.assertEqual(after, data, "%s changed" % name)
                    else:
                        self.assertEqual(shown, [("Parleym", "Failed to load user settings. Invalid file.")])
                        self.assertEqual(after, data, "%s changed" % name)
                    tallies[store].passed += 1
            self.assertEqual(boxes(parts["whole"]), [])
            self.assertTrue(any(l.startswith("menubar main") and "Parleym[" in l for l in parts["whole"]))
            shots = [os.path.basename(p) for p in result.screenshots()]
            self.assertIn("objcache-box.bmp", shots)
            self.assertIn("objcache-salvage-box.bmp", shots)
            self.assertIn("users-box.bmp", shots)
        finally:
            print("%s; %s; screenshots in %s" % (tallies["objcache"], tallies["users"], result.out_dir))


if __name__ == "__main__":
    unittest.main()
