#!/usr/bin/env python3
"""Draws the log viewer's 16x16 tree images (8-bit colour plus 1-bit mask BMPs).

Each picture is a grid of palette letters; '.' is transparent. Run from this
folder to regenerate the .bmp files next to it.
"""
import struct

PALETTE = {
    'k': (40, 40, 40),      # outline
    'w': (255, 255, 255),
    'g': (200, 200, 200),   # light grey
    'r': (200, 40, 40),     # calendar band
    'b': (40, 90, 200),     # bubble
    'l': (150, 190, 250),   # bubble light
    'n': (130, 80, 30),     # book cover
    'y': (240, 200, 60),    # book label
}

DAY = """
................
..k..k..k..k....
.kkkkkkkkkkkkk..
.krrrrrrrrrrrk..
.krrrrrrrrrrrk..
.kkkkkkkkkkkkk..
.kwwgwwgwwgwwk..
.kwwgwwgwwgwwk..
.kgggggggggggk..
.kwwgwwgwwgwwk..
.kwwgwwgwwgwwk..
.kgggggggggggk..
.kwwgwwgwwgwwk..
.kkkkkkkkkkkkk..
................
................
"""

CONVERSATION = """
................
...kkkkkkkkkk...
..kllllllllllk..
.kllwwwwwwwwllk.
.klllllllllllbk.
.kllwwwwwwllllk.
.klllllllllllbk.
.kllwwwwwwwwllk.
..kbbbbbbbbbbk..
...kkkkbbkkkk...
.......kbk......
.......kbk......
........kk......
................
................
................
"""

ROOT = """
................
...kkkkkkkkkkk..
..knnnnnnnnnnk..
..knnnnnnnnnnk..
..knnyyyyyynnk..
..knnykkkkynnk..
..knnyyyyyynnk..
..knnnnnnnnnnk..
..knnnnnnnnnnk..
..knnnnnnnnnnk..
..knnnnnnnnnnk..
..kwwwwwwwwwwk..
..kgggggggggggk.
...kkkkkkkkkkkk.
................
................
"""


def rows(picture):
    lines = [line for line in picture.strip('\n').split('\n')]
    assert len(lines) == 16 and all(len(line) == 16 for line in lines), picture
    return lines


def file_header(size, offset):
    return b'BM' + struct.pack('<IHHI', size, 0, 0, offset)


def info_header(bits, colours, image_size):
    return struct.pack('<IiiHHIIiiII', 40, 16, 16, 1, bits, 0, image_size, 2835, 2835, colours, colours)


def colour_bitmap(picture):
    letters = list(PALETTE)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE.values())
    palette += b'\0' * (4 * (256 - len(letters)))
    pixels = b''
    for line in reversed(rows(picture)):  # bottom-up
        pixels += bytes(letters.index(c) if c in PALETTE else letters.index('w') for c in line)
    offset = 14 + 40 + len(palette)
    return file_header(offset + len(pixels), offset) + info_header(8, 256, len(pixels)) + palette + pixels


def mask_bitmap(picture):
    palette = struct.pack('<BBBBBBBB', 0, 0, 0, 0, 255, 255, 255, 0)
    pixels = b''
    for line in reversed(rows(picture)):
        bits = 0
        for c in line:
            bits = (bits << 1) | (1 if c == '.' else 0)  # white = transparent
        pixels += struct.pack('>H', bits) + b'\0\0'
    offset = 14 + 40 + len(palette)
    return file_header(offset + len(pixels), offset) + info_header(1, 2, len(pixels)) + palette + pixels


for name, picture in (('TreeDay', DAY), ('TreeConversation', CONVERSATION), ('TreeRoot', ROOT)):
    with open(name + '.bmp', 'wb') as out:
        out.write(colour_bitmap(picture))
    with open(name + 'Mask.bmp', 'wb') as out:
        out.write(mask_bitmap(picture))
