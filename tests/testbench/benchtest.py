"""Shared set-up of the test bench's Python tests: the driver and a few readers."""
import os
import re
import sys

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))

from driver import LOADER_END, LOADER_START, Bench  # noqa: E402,F401
from streams import unquote  # noqa: E402,F401


def bench():
    return Bench()


def history_positions(marked_text):
    """Object positions implied by a history shown with {code} markers: each marker
    stands for one character of the control's text."""
    positions, codes = [], []
    at = 0
    for match in re.finditer(r"\{([^{}]*)\}|.", marked_text, re.S):
        if match.group(1) is not None and match.group(0) != "{}":
            positions.append(at)
            codes.append(match.group(1))
        at += 1
    return list(zip(positions, codes))


def parse_objects(listing):
    """'[21::-), 23:(Y)]' -> [(21, ':-)'), (23, '(Y)')]"""
    inner = listing.strip()[1:-1]
    if not inner:
        return []
    result = []
    for item in inner.split(", "):
        position, code = item.split(":", 1)
        result.append((int(position), code))
    return result
