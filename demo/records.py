"""Readers the tour's checks use; the transcript's quoting and the streams' layouts are the
test bench's own (testbench/streams.py)."""
import re

from streams import conversation_index, int32, log_index, message_content, shown_text, unquote  # noqa: F401


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
