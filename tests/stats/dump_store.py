#!/usr/bin/python3
"""Reads a statistics or offline-message file with olefile and writes a plain
description of it, so tests can check the byte layout independently of the
code that wrote it. Usage: dump_store.py stats|offline FILE OUTPUT"""
import os
import struct
import sys

import olefile


class Reader:
    def __init__(self, data, where):
        self.data, self.pos, self.where = data, 0, where

    def take(self, size):
        if self.pos + size > len(self.data):
            raise ValueError("%s: short at %d" % (self.where, self.pos))
        chunk = self.data[self.pos:self.pos + size]
        self.pos += size
        return chunk

    def i32(self):
        return struct.unpack("<i", self.take(4))[0]

    def u8(self):
        return self.take(1)[0]

    def date(self):
        return struct.unpack("<d", self.take(8))[0]

    def text(self):
        length = self.i32()
        if length < 0:
            raise ValueError("%s: negative length" % self.where)
        return self.take(length).decode("latin-1")

    def done(self):
        if self.pos != len(self.data):
            raise ValueError("%s: %d stray bytes" % (self.where, len(self.data) - self.pos))


def online_time(r):
    days, h, m, s = r.i32(), r.u8(), r.u8(), r.u8()
    return "%dd%02d:%02d:%02d" % (days, h, m, s)


def dump_stats(ole, number, out):
    if ole.get_size([number, "users"]) == 0 and ole.get_size([number, "sessions"]) == 0:
        out.append("%s empty" % number)
        return
    r = Reader(ole.openstream([number, "users"]).read(), number + "/users")
    out.append("%s/users own=%s" % (number, online_time(r)))
    contacts = []
    for _ in range(r.i32()):
        contact_number = r.i32()
        name = r.text()
        contacts.append("contact %d %s %s" % (contact_number, name, online_time(r)))
    r.done()
    out.extend(sorted(contacts, key=lambda line: line.split(" ")[2]))
    r = Reader(ole.openstream([number, "sessions"]).read(), number + "/sessions")
    out.append("%s/sessions" % number)
    for _ in range(r.i32()):
        out.append("session %.6f %.6f" % (r.date(), r.date()))
        for _ in range(r.i32()):
            out.append("period %d %.6f %.6f" % (r.i32(), r.date(), r.date()))
    r.done()


def dump_offline(ole, number, out):
    if ole.get_size([number, "messages"]) == 0:
        out.append("%s empty" % number)
        return
    r = Reader(ole.openstream([number, "messages"]).read(), number + "/messages")
    out.append("%s/messages" % number)
    blocks = []
    for _ in range(r.i32()):
        lines = ["contact %s" % r.text()]
        for _ in range(r.i32()):
            is_rtf = r.i32()
            text = r.text()
            objects = [(r.i32(), r.text()) for _ in range(r.i32())]
            lines.append("message rtf=%d text=%r objects=%r" % (is_rtf, text, objects))
        blocks.append(lines)
    r.done()
    for lines in sorted(blocks):
        out.extend(lines)


def main():
    kind, path, output = sys.argv[1:4]
    out = []
    try:
        ole = olefile.OleFileIO(path)
        r = Reader(ole.openstream("userids").read(), "userids")
        out.append("userids last=%d" % r.i32())
        accounts = sorted((r.text(), r.i32()) for _ in range(r.i32()))
        r.done()
        for name, number in accounts:
            out.append("account %s %d" % (name, number))
        for name, number in accounts:
            number = str(number)
            if not ole.exists(number):
                out.append("%s missing" % number)
                continue
            streams = sorted(entry[1] for entry in ole.listdir() if len(entry) == 2 and entry[0] == number)
            out.append("%s: %s" % (number, " ".join(
                "%s(%d)" % (stream, ole.get_size([number, stream])) for stream in streams)))
            if kind == "stats":
                dump_stats(ole, number, out)
            else:
                dump_offline(ole, number, out)
        ole.close()
    except Exception as error:  # reported to the test, which shows it
        publish(output, "FAILED\n" + "\n".join(out + [str(error)]) + "\n")
        return 3
    publish(output, "\n".join(out) + "\n")
    return 0


def publish(output, text):
    # Wine does not wait for a Unix process: the caller polls for the file,
    # so it must appear complete in one step.
    with open(output + ".part", "w") as f:
        f.write(text)
    os.replace(output + ".part", output)


if __name__ == "__main__":
    sys.exit(main())
