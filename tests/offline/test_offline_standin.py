#!/usr/bin/python3
"""Offline messages end to end in the stand-in messenger with the real loader, hook
library and plug-in: composing to offline contacts, what offlinemsg.dat keeps (read
back with olefile), delivery when the contact comes online in this run or a later
one, and a messenger that refuses a send. Screenshots stay in the runs' output folders."""
import os
import re
import struct
import subprocess
import sys
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "testbench"))

import olefile  # noqa: E402
from benchtest import LOADER_END, LOADER_START, bench, unquote  # noqa: E402
from scenarios import signed_in  # noqa: E402
from streams import int32, offline_messages  # noqa: E402

ME = "me@parleym.example"
# Same length as ME: the later run's file gets ME in its place (messages for `self`).
STAND_IN_FOR_ME = "mf@parleym.example"

START = LOADER_START + "\n"

STOP = "signout\n" + LOADER_END

FIRST_RUN = signed_in(("bob@parleym.example", "Bob B", "ONLINE"), ("carol@parleym.example", "carol C", "ONLINE")) + r'''# Nobody is offline: the picker says so and shows no list.
answer OK caption=Error text="any offline users"
menu main Parleym "Send offline message..."
wait answered timeout=5000
add-contact gus@parleym.example "Gus G" status=OFFLINE
add-contact eve@parleym.example "eve E" status=OFFLINE
add-contact dave@parleym.example "Dave D" status=OFFLINE
add-contact mf@parleym.example "Em F" status=OFFLINE
# Carol talks, then goes offline with her window open.
open carol@parleym.example
receive carol@parleym.example "hello :-) (Y)"
status carol@parleym.example OFFLINE
wait title conv:carol@parleym.example "carol C - Offline message" timeout=5000
type carol@parleym.example "first (Y) note"
enter carol@parleym.example
type carol@parleym.example "second :-) note"
click-send carol@parleym.example
screenshot offline-window
# The overlay follows the history through a resize.
resize conv:carol@parleym.example 520 460
screenshot offline-window-resized
# Opened again from the contact list: what is kept shows under the caption.
close carol@parleym.example
wait no-conv carol@parleym.example timeout=5000
context-menu carol@parleym.example "Send offline message..."
wait conv carol@parleym.example timeout=10000
screenshot offline-window-reopened
# Carol signs in with the window open.
status carol@parleym.example ONLINE
screenshot delivered
# Eve is picked in the picker; her window is closed before she signs in.
answer OK caption="Send offline message" select="eve E"
menu main Parleym "Send offline message..."
wait conv eve@parleym.example timeout=10000
type eve@parleym.example "for eve"
enter eve@parleym.example
close eve@parleym.example
wait no-conv eve@parleym.example timeout=5000
status eve@parleym.example ONLINE
wait history eve@parleym.example "for eve" timeout=10000
# Gus: the messenger takes the first message, then refuses.
context-menu gus@parleym.example "Send offline message..."
wait conv gus@parleym.example timeout=10000
type gus@parleym.example "g one"
enter gus@parleym.example
type gus@parleym.example "g two"
enter gus@parleym.example
type gus@parleym.example "g three"
enter gus@parleym.example
refuse-send gus@parleym.example after=1 count=5
status gus@parleym.example ONLINE
# Hal signs out again just after the first message reached him.
add-contact hal@parleym.example "Hal H" status=OFFLINE
context-menu hal@parleym.example "Send offline message..."
wait conv hal@parleym.example timeout=10000
type hal@parleym.example "h one"
enter hal@parleym.example
type hal@parleym.example "h two"
enter hal@parleym.example
type hal@parleym.example "h three"
enter hal@parleym.example
drop-after-send hal@parleym.example after=1
status hal@parleym.example ONLINE
# Kept for the later run.
context-menu dave@parleym.example "Send offline message..."
wait conv dave@parleym.example timeout=10000
type dave@parleym.example "d one :-)"
enter dave@parleym.example
type dave@parleym.example "d two"
click-send dave@parleym.example
close dave@parleym.example
context-menu mf@parleym.example "Send offline message..."
wait conv mf@parleym.example timeout=10000
type mf@parleym.example "to myself"
enter mf@parleym.example
close mf@parleym.example
''' + STOP

# Puts the stand-in's pictures of ":-)" and "(Y)" into objcache.dat.
PICTURES_RUN = signed_in(("pat@parleym.example", "Pat P", "ONLINE")) + \
    'receive pat@parleym.example "pictures :-) (Y)"\n' + STOP

# The contacts are online when the user signs in: the contact list brings delivery.
LATER_RUN = START + r'''
account me@parleym.example "Me Myself"
add-contact dave@parleym.example "Dave D" status=ONLINE
add-contact gus@parleym.example "Gus G" status=ONLINE
signin me@parleym.example "Me Myself"
wait history dave@parleym.example "d two" timeout=10000
wait history gus@parleym.example "g three" timeout=10000
''' + STOP

PREFIX = r"\[Offline message on [^\]]+\] "


def read_messages(data):
    """The "messages" stream: {contact: [(is_rtf, text, objects), ...]}."""
    blocks, at = offline_messages(data)
    assert at == len(data), (at, len(data))
    return blocks


def standard_digests():
    """The messenger's picture digests, in picture order, as the plug-in knows them."""
    with open(os.path.join(SOURCE_DIR, "plugin", "logging", "EmoticonCodes.cpp")) as f:
        return re.findall(r'\{"([0-9a-f]{32})", \{', f.read())


def as_standard_pictures(objcache, scratch):
    """objcache.dat with each cached stand-in picture recorded under the digest of the
    messenger's picture of that number. The stand-in's pictures are its own, so their
    digests are not the messenger's; this cache holds them as if they were, which is
    what lets typed codes turn back into pictures."""
    with open(scratch, "wb") as f:
        f.write(objcache)
    digests = standard_digests()
    ole = olefile.OleFileIO(scratch, write_mode=True)
    data = ole.openstream("md5map").read()
    count, at = int32(data, 0)
    out = struct.pack("<i", count)
    for _ in range(count):
        length, at = int32(data, at)
        at += length
        key_length, at = int32(data, at)
        key = data[at:at + key_length]
        at += key_length
        contents = ole.openstream([key.decode("latin-1"), "CONTENTS"]).read()
        picture, _ = int32(contents, 8)
        digest = digests[picture].encode()
        out += struct.pack("<i", len(digest)) + digest + struct.pack("<i", len(key)) + key
    assert len(out) == len(data)
    ole.write_stream("md5map", out)
    ole.close()
    with open(scratch, "rb") as f:
        return f.read()


def messages_stream(path):
    ole = olefile.OleFileIO(path)
    try:
        streams = [p for p in ole.listdir() if p[-1] == "messages"]
        assert len(streams) == 1, streams
        return streams[0], ole.openstream(streams[0]).read()
    finally:
        ole.close()


class OfflineMessagesInStandinTest(unittest.TestCase):
    MESSENGER = "wm"
    WINDOWS = "winxp"

    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        binary_dir = cls.bench.binary_dir
        users = os.path.join(cls.bench.drive_c, "offline-users.dat")
        subprocess.run(["/usr/bin/wine", os.path.join(binary_dir, "tools", "users-dat.exe"), "create",
                        cls.bench.windows_path(users)], env=cls.bench.env, check=True, timeout=60)
        with open(users, "rb") as f:
            cls.users_dat = f.read()
        pictures = cls.bench.run(PICTURES_RUN, messenger=cls.MESSENGER, loader=False,
                                 name="offline-pictures-" + cls.MESSENGER, windows_version=cls.WINDOWS,
                                 data_files={"users.dat": cls.users_dat})
        assert pictures.ok, pictures.describe()
        cache = as_standard_pictures(pictures.data_file("objcache.dat"),
                                     os.path.join(cls.bench.drive_c, "offline-objcache.dat"))
        cls.first = cls.bench.run(FIRST_RUN, messenger=cls.MESSENGER, loader=False,
                                  name="offline-first-" + cls.MESSENGER, windows_version=cls.WINDOWS,
                                  data_files={"users.dat": cls.users_dat, "objcache.dat": cache})
        cls.first_file = os.path.join(cls.first.data_dir, "offlinemsg.dat")
        cls.stream_path, data = messages_stream(cls.first_file)
        cls.kept = read_messages(data)

        # The same data folder's files for the later run, with the messages for
        # the stand-in contact put under the user's own name.
        later = {"users.dat": cls.users_dat}
        for name in ("objcache.dat", "offlinemsg.dat", "stats.dat", "logs.dat"):
            content = cls.first.data_file(name)
            if content is not None:
                later[name] = content
        cls.later_input = os.path.join(cls.bench.drive_c, "offline-later-input.dat")
        with open(cls.later_input, "wb") as f:
            f.write(later["offlinemsg.dat"])
        ole = olefile.OleFileIO(cls.later_input, write_mode=True)
        ole.write_stream(cls.stream_path, data.replace(STAND_IN_FOR_ME.encode(), ME.encode()))
        ole.close()
        with open(cls.later_input, "rb") as f:
            later["offlinemsg.dat"] = f.read()
        cls.later = cls.bench.run(LATER_RUN, messenger=cls.MESSENGER, loader=False,
                                  name="offline-later-" + cls.MESSENGER, windows_version=cls.WINDOWS,
                                  data_files=later)
        _, cls.kept_after_later = messages_stream(os.path.join(cls.later.data_dir, "offlinemsg.dat"))

    @classmethod
    def tearDownClass(cls):
        exe = "msnmsgr.exe" if cls.MESSENGER == "msn" else "msmsgs.exe"
        cls.bench.set_windows_version(exe, None)

    def sent(self, run, contact):
        lines = run.lines_starting("sent conv:%s " % contact)
        for line in lines:
            self.assertIn(" delivered=yes ", line)
        return [unquote(line.split(" text=", 1)[1])[0] for line in lines]

    def observed(self, run, what):
        """Every value the transcript reported for `what` (e.g. "overlay conv:x"), in order."""
        values = []
        for line in run.lines:
            for prefix in (what + " ", "dump " + what + " "):
                if line.startswith(prefix):
                    values.append(line[len(prefix):])
        return values

    def test_runs_went_through(self):
        for run in (self.first, self.later):
            self.assertTrue(run.ok, run.describe())
            self.assertEqual(run.failures(), [], run.describe())

    def test_picker_refuses_without_offline_contacts_and_lists_them_sorted(self):
        boxes = [l for l in self.first.lines_starting('box caption="Error"')
                 if "You don't have any offline users in your contacts list" in l]
        self.assertEqual(len(boxes), 1, self.first.describe())
        dialogs = self.first.lines_starting('dialog caption="Send offline message"')
        # Only once: the refusal came without a list.
        self.assertEqual(len(dialogs), 1, self.first.describe())
        self.assertIn('["Dave D|dave@parleym.example", "Em F|mf@parleym.example", "eve E|eve@parleym.example", '
                      '"Gus G|gus@parleym.example"]', dialogs[0])

    def test_composing_keeps_messages_out_of_the_messengers_hands(self):
        overlays = self.observed(self.first, "overlay conv:carol@parleym.example")
        self.assertTrue(overlays, self.first.describe())
        composed = [unquote(v) for v in overlays]
        # The first window: history, then each message with its prefix and its pictures.
        typed = [text for text, rest in composed if "second" in text][0]
        self.assertIn("carol C says:\nhello {:-)} {(Y)}", typed)
        self.assertNotIn("Offline messages (not sent):", typed)
        self.assertRegex(typed, PREFIX + r"first \{\(Y\)\} note\n(.|\n)*" + PREFIX + r"second \{:-\)\} note")
        # Over the history all along, through the resize too.
        self.assertTrue(all("covers-history=yes" in rest for _, rest in composed), overlays)
        self.assertTrue(self.first.lines_starting("step") and
                        [l for l in self.first.lines if l.startswith("step") and " resize conv:carol" in l])
        # Reopened with messages pending: the caption, then both.
        reopened = composed[-1][0]
        self.assertRegex(reopened, r"Offline messages \(not sent\):\n(.|\n)*" + PREFIX + r"first \{\(Y\)\} note"
                         r"(.|\n)*" + PREFIX + r"second \{:-\)\} note")
        # The messenger sent nothing while she was offline.
        for line in self.first.lines_starting("send conv:carol@parleym.example"):
            self.assertIn("nothing-to-send", line)
        self.assertFalse([l for l in self.first.lines if "could not be delivered" in l])
        titles = self.observed(self.first, "title conv:carol@parleym.example")
        self.assertIn('"carol C - Offline message"', titles)

    def test_window_open_when_the_contact_signs_in_sends_in_order_and_returns_to_logging(self):
        sent = self.sent(self.first, "carol@parleym.example")
        self.assertEqual(len(sent), 2, self.first.describe())
        self.assertRegex(sent[0], "^" + PREFIX + r"first \(Y\) note$")
        self.assertRegex(sent[1], "^" + PREFIX + r"second :-\) note$")
        self.assertEqual(self.first.last("title conv:carol@parleym.example"), '"carol C - Conversation"')
        history, _ = unquote(self.first.last("history conv:carol@parleym.example"))
        self.assertRegex(history, r"Me Myself says:\n" + PREFIX + r"first \{\(Y\)\} note")
        # The overlay went with the handler.
        last_overlay = self.observed(self.first, "overlay conv:carol@parleym.example")[-1]
        reopened_at = max(i for i, l in enumerate(self.first.lines) if l.startswith("overlay conv:carol"))
        delivered_at = min(i for i, l in enumerate(self.first.lines) if l.startswith("sent conv:carol"))
        self.assertLess(reopened_at, delivered_at, last_overlay)
        self.assertNotIn("carol@parleym.example", self.kept)

    def test_no_window_when_the_contact_signs_in_opens_one_and_sends(self):
        sent = self.sent(self.first, "eve@parleym.example")
        self.assertEqual(len(sent), 1, self.first.describe())
        self.assertRegex(sent[0], "^" + PREFIX + "for eve$")
        self.assertNotIn("eve@parleym.example", self.kept)

    def test_store_keeps_what_was_not_sent_in_order_with_codes(self):
        self.assertEqual(sorted(self.kept), ["dave@parleym.example", "gus@parleym.example", "hal@parleym.example",
                                             STAND_IN_FOR_ME])
        dave = self.kept["dave@parleym.example"]
        self.assertEqual([(is_rtf, len(objects)) for is_rtf, _, objects in dave], [(0, 0), (0, 0)])
        self.assertRegex(dave[0][1], "^" + PREFIX + r"d one :-\)\s*$")
        self.assertRegex(dave[1][1], "^" + PREFIX + r"d two\s*$")

    def test_refused_send_keeps_the_untaken_messages(self):
        self.assertEqual(len(self.first.lines_starting("send conv:gus@parleym.example refused")), 1,
                         self.first.describe())
        sent = self.sent(self.first, "gus@parleym.example")
        self.assertEqual(len(sent), 1)
        self.assertRegex(sent[0], "^" + PREFIX + "g one$")
        kept = [text for _, text, _ in self.kept["gus@parleym.example"]]
        self.assertEqual(len(kept), 2, kept)
        self.assertRegex(kept[0], "^" + PREFIX + r"g two\s*$")
        self.assertRegex(kept[1], "^" + PREFIX + r"g three\s*$")
        # The refused text did not stay in the input for the user to send twice.
        self.assertEqual(self.first.last("input conv:gus@parleym.example").split(" objects=")[0], '""')

    def test_contact_gone_again_keeps_the_untaken_messages(self):
        self.assertTrue(self.first.lines_starting("contact-dropped hal@parleym.example"), self.first.describe())
        sent = self.sent(self.first, "hal@parleym.example")
        self.assertEqual([re.sub(PREFIX, "", text) for text in sent], ["h one"])
        kept = [re.sub(PREFIX, "", text).strip() for _, text, _ in self.kept["hal@parleym.example"]]
        self.assertEqual(kept, ["h two", "h three"])
        # Offline again, the window composes once more and shows what waits.
        self.assertEqual(self.first.last("title conv:hal@parleym.example"), '"Hal H - Offline message"')
        overlay, _ = unquote(self.first.last("overlay conv:hal@parleym.example"))
        self.assertRegex(overlay, r"Offline messages \(not sent\):\n(.|\n)*h two\n(.|\n)*h three")

    def test_later_run_delivers_at_sign_in_but_never_to_self(self):
        dave = self.sent(self.later, "dave@parleym.example")
        self.assertEqual(len(dave), 2, self.later.describe())
        self.assertRegex(dave[0], "^" + PREFIX + r"d one :-\)$")
        self.assertRegex(dave[1], "^" + PREFIX + r"d two$")
        gus = self.sent(self.later, "gus@parleym.example")
        self.assertEqual([re.sub(PREFIX, "", text) for text in gus], ["g two", "g three"])
        self.assertFalse(self.later.lines_starting('api InstantMessage("%s")' % ME), self.later.describe())
        self.assertFalse(self.later.lines_starting("window-created conv:" + ME))
        kept = read_messages(self.kept_after_later)
        self.assertEqual(sorted(kept), ["hal@parleym.example", ME])

    def test_screenshots_taken(self):
        shots = [os.path.basename(p) for p in self.first.screenshots()]
        for shot in ("offline-window.bmp", "offline-window-reopened.bmp", "delivered.bmp"):
            self.assertIn(shot, shots)
        print("screenshots:", self.first.out_dir)


class OfflineMessagesInMsnStandinTest(OfflineMessagesInStandinTest):
    MESSENGER = "msn"
    WINDOWS = "win2k"


# The messenger plays rough: addresses inside one another, keys that break lines,
# a draft in the input, and events, a box and a sign-out inside delivery's clicks.
ROUGH_RUN = signed_in(("ann@parleym.example", "Ann A", "ONLINE"),
                     ("joann@parleym.example", "Jo ann@parleym.example", "OFFLINE"),
                     ("cid@parleym.example", "Cid C", "OFFLINE"), ("eve@parleym.example", "Eve E", "OFFLINE"),
                     ("dan@parleym.example", "Dan D", "OFFLINE"), ("fay@parleym.example", "Fay F", "ONLINE")) + r'''# Jo's address holds Ann's, Jo's name is Ann's address: the menu, window and messages are Jo's.
context-menu joann@parleym.example "Send offline message..."
wait conv joann@parleym.example timeout=10000
type joann@parleym.example "for jo"
enter joann@parleym.example
# Return in an empty input keeps nothing; Shift+Return and Ctrl+Return break the line.
enter joann@parleym.example
type joann@parleym.example "two"
enter joann@parleym.example shift
type joann@parleym.example "lines"
enter joann@parleym.example ctrl
type joann@parleym.example "three"
enter joann@parleym.example
# Jo signs in with a draft in the input; the messenger takes one message, refuses the next.
type joann@parleym.example "my draft"
refuse-send joann@parleym.example after=1 count=1
status joann@parleym.example ONLINE
wait history joann@parleym.example "for jo" timeout=5000
# Cid's status is reported again inside the first click.
context-menu cid@parleym.example "Send offline message..."
wait conv cid@parleym.example timeout=10000
type cid@parleym.example "c one"
enter cid@parleym.example
type cid@parleym.example "c two"
enter cid@parleym.example
type cid@parleym.example "c three"
enter cid@parleym.example
in-send cid@parleym.example status cid@parleym.example ONLINE
status cid@parleym.example ONLINE
wait history cid@parleym.example "c three" timeout=5000
# The messenger shows a box inside Eve's first click, and her window goes meanwhile.
context-menu eve@parleym.example "Send offline message..."
wait conv eve@parleym.example timeout=10000
type eve@parleym.example "e one"
enter eve@parleym.example
type eve@parleym.example "e two"
enter eve@parleym.example
modal-steps on
answer OK caption=Messenger delay=800
in-send eve@parleym.example show-box Messenger "Sending..."
status eve@parleym.example ONLINE
destroy conv:eve@parleym.example
wait answered timeout=5000
modal-steps off
# The user signs out inside Dan's first click; every contact is then reported offline.
context-menu dan@parleym.example "Send offline message..."
wait conv dan@parleym.example timeout=10000
type dan@parleym.example "d one"
enter dan@parleym.example
type dan@parleym.example "d two"
enter dan@parleym.example
open fay@parleym.example
in-send dan@parleym.example signout contacts-offline
status dan@parleym.example ONLINE
# Fay's window takes offline messages now, but nothing can be kept while signed out.
answer OK caption=Parleym text="signed out" screenshot=offline-not-kept
type fay@parleym.example "after signout"
enter fay@parleym.example
wait answered timeout=5000
# Signed in again: what is left goes, once.
signin me@parleym.example "Me Myself"
status dan@parleym.example ONLINE
status eve@parleym.example ONLINE
wait history dan@parleym.example "d two" timeout=10000
wait history eve@parleym.example "e two" timeout=10000
dump
''' + STOP


class OfflineMessagesWithARoughMessengerTest(unittest.TestCase):
    MESSENGER = "wm"
    WINDOWS = "winxp"

    @classmethod
    def setUpClass(cls):
        cls.bench = bench()
        cls.result = cls.bench.run(ROUGH_RUN, messenger=cls.MESSENGER, loader=False,
                                name="offline-rough-" + cls.MESSENGER, windows_version=cls.WINDOWS,
                                data_files={"users.dat": cls.bench.fresh_users_dat()})
        _, data = messages_stream(os.path.join(cls.result.data_dir, "offlinemsg.dat"))
        cls.kept = {contact: [re.sub(PREFIX, "", text) for _, text, _ in messages]
                    for contact, messages in read_messages(data).items()}

    @classmethod
    def tearDownClass(cls):
        cls.bench.clear_windows_version(cls.MESSENGER)

    def sent(self, contact):
        return [re.sub("^" + PREFIX, "", text) for text in self.result.sent(contact + "@parleym.example")]

    def test_run_went_through(self):
        self.assertTrue(self.result.ok, self.result.describe())
        self.assertEqual(self.result.failures(), [], self.result.describe())

    def test_contained_addresses_reach_the_person_meant(self):
        chosen = [l for l in self.result.lines_starting("context-menu contact=") if "joann@" in l]
        self.assertIn(" chosen ", chosen[0], self.result.describe())
        self.assertIn("Jo ann@parleym.example - Offline message", self.result.titles("joann@parleym.example"))
        self.assertEqual(self.sent("joann"), ["for jo"], self.result.describe())
        self.assertFalse([l for l in self.result.lines if "ann@parleym.example" in l and
                          (l.startswith("api InstantMessage(\"ann@") or l.startswith("window-created conv:ann@"))])
        self.assertNotIn("ann@parleym.example", self.kept)

    def test_only_a_plain_return_with_text_composes_and_a_refused_send_keeps_the_rest(self):
        # Nothing for the empty Return, one message for the three lines, refused and kept.
        refused = self.result.lines_starting("send conv:joann@parleym.example refused")
        self.assertEqual(len(refused), 1, self.result.describe())
        self.assertEqual(len(self.kept["joann@parleym.example"]), 1, self.kept)
        self.assertRegex(self.kept["joann@parleym.example"][0], r"^two\s+lines\s+three\s*$")

    def test_the_users_draft_stays_in_the_input(self):
        # Through a delivery with a refused send, and the pending messages shown again.
        inputs = [unquote(l.split("conv:joann@parleym.example ", 1)[1])[0] for l in self.result.lines
                  if l.startswith(("input conv:joann@", "dump input conv:joann@"))]
        self.assertEqual(inputs[-1], "my draft", inputs)
        self.assertFalse([text for text in self.sent("joann") if "my draft" in text])

    def test_events_inside_clicks_send_each_message_exactly_once(self):
        self.assertEqual(self.sent("cid"), ["c one", "c two", "c three"], self.result.describe())
        self.assertEqual(self.sent("eve"), ["e one", "e two"], self.result.describe())
        self.assertEqual(self.sent("dan"), ["d one", "d two"], self.result.describe())
        for contact in ("cid", "eve", "dan"):
            self.assertNotIn(contact + "@parleym.example", self.kept)

    def test_a_message_that_cannot_be_kept_stays_in_the_input(self):
        boxes = [l for l in self.result.lines_starting('box caption="Parleym"') if "signed out" in l]
        self.assertEqual(len(boxes), 1, self.result.describe())
        self.assertIn("Your message is still in the input box", boxes[0])
        self.assertEqual(self.result.last("dump input conv:fay@parleym.example"), '"after signout" objects=[]')
        self.assertNotIn("after signout", self.result.last("dump overlay conv:fay@parleym.example"))
        self.assertFalse([l for l in self.result.lines_starting("sent conv:fay@") if "after signout" in l])
        self.assertNotIn("fay@parleym.example", self.kept)


class OfflineMessagesWithARoughMsnMessengerTest(OfflineMessagesWithARoughMessengerTest):
    MESSENGER = "msn"
    WINDOWS = "win2k"


if __name__ == "__main__":
    unittest.main()
