"""Readers of what the stand-in's transcript and Parleym's data files hold, shared by the
tests and the tour: the transcript's quoting and the streams' layouts."""
import re
import struct


def unquote(text):
    """The transcript's quoted form back to text; returns (text, rest)."""
    assert text.startswith('"'), text
    out, i = [], 1
    while i < len(text):
        c = text[i]
        if c == '"':
            return "".join(out), text[i + 1:]
        if c == "\\":
            i += 1
            c = {"n": "\n", "r": "\r", "t": "\t"}.get(text[i], text[i])
        out.append(c)
        i += 1
    raise ValueError("unterminated quoted text: " + text)


def control_text(line, control):
    """The text of one control ("Static:4014") in a `dialog` transcript line, or None."""
    match = re.search(re.escape(control) + r':(".*)', line)
    return unquote(match.group(1))[0] if match else None


def list_rows(line, list_id):
    """The rows of list view `list_id` in a `dialog` transcript line."""
    match = re.search(r"SysListView32:%d:\"\"\[(.*?)\]" % list_id, line)
    if not match:
        return []
    rows, rest = [], match.group(1)
    while rest.startswith('"'):
        row, rest = unquote(rest)
        rows.append(row.split("|"))
        rest = rest[2:] if rest.startswith(", ") else rest
    return rows


def int32(data, at):
    return struct.unpack_from("<i", data, at)[0], at + 4


def conversation_index(data):
    """The `conversations` stream: (next number, logging on, [entries])."""
    next_number, at = int32(data, 0)
    enabled, at = int32(data, at)
    count, at = int32(data, at)
    entries = []
    for _ in range(count):
        start, end = struct.unpack_from("<dd", data, at)
        length, at = int32(data, at + 16)
        contact = data[at:at + length].decode("latin-1")
        number, at = int32(data, at + length)
        entries.append(dict(start=start, end=end, contact=contact, number=number))
    return next_number, enabled, entries


def log_index(logs):
    """The one account of an open logs.dat: (its storage's name, its index as
    conversation_index reads it)."""
    account = [p[0] for p in logs.listdir() if p[-1] == "conversations"][0]
    return account, conversation_index(logs.openstream([account, "conversations"]).read())


def message_at(data, at):
    """One stored message from `at`: ((is rtf, text, [(position, object key)]), where it ends)."""
    is_rtf, at = int32(data, at)
    length, at = int32(data, at)
    text = data[at:at + length].decode("latin-1")
    count, at = int32(data, at + length)
    objects = []
    for _ in range(count):
        position, at = int32(data, at)
        key_length, at = int32(data, at)
        objects.append((position, data[at:at + key_length].decode("latin-1")))
        at += key_length
    return (is_rtf, text, objects), at


def message_content(data):
    """A message-content stream: (is rtf, text, [(position, object key)])."""
    return message_at(data, 0)[0]


def offline_messages(data):
    """offlinemsg.dat's "messages" stream: ({contact: [message as message_at reads it, ...]},
    where the reading ended)."""
    count, at = int32(data, 0)
    blocks = {}
    for _ in range(count):
        length, at = int32(data, at)
        name = data[at:at + length].decode("latin-1")
        messages, at = int32(data, at + length)
        blocks[name] = []
        for _ in range(messages):
            message, at = message_at(data, at)
            blocks[name].append(message)
    return blocks, at


def shown_text(marked):
    """The history as the transcript shows it ({code} per picture), as a rich-edit
    control's text reads on Wine: one blank per picture, lines ending in \\n."""
    return re.sub(r"\{[^{}]*\}", " ", marked)
