"""Damaged data files for tests: compound files read at the byte level (header,
allocation tables, directory, chains) so that one sector, one link or one count
can be spoiled exactly, and a small writer of sound compound files with given
streams (foreign files, or our own layouts with wrong contents)."""
import io
import random
import struct
import zipfile

SIGNATURE = bytes.fromhex("D0CF11E0A1B11AE1")
FREE, END, FAT_SECTOR = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
NO_ENTRY = 0xFFFFFFFF


class Compound:
    """A compound file as bytes, with its tables decoded."""

    def __init__(self, data):
        self.data = bytearray(data)
        assert self.data[:8] == SIGNATURE, "not a compound file"
        self.sector_size = 1 << struct.unpack_from("<H", self.data, 30)[0]
        fat_count, self.directory_start = struct.unpack_from("<II", self.data, 44)
        self.mini_fat_start = struct.unpack_from("<I", self.data, 60)[0]
        difat_start, difat_count = struct.unpack_from("<II", self.data, 68)
        fat_sectors = list(struct.unpack_from("<109I", self.data, 76))[:min(fat_count, 109)]
        per = self.sector_size // 4
        sector = difat_start
        while len(fat_sectors) < fat_count and difat_count:
            entries = struct.unpack_from("<%dI" % per, self.data, self.offset(sector))
            fat_sectors += list(entries[:-1])[:fat_count - len(fat_sectors)]
            sector, difat_count = entries[-1], difat_count - 1
        self.fat_sectors = fat_sectors
        self.fat = []
        for s in fat_sectors:
            self.fat += struct.unpack_from("<%dI" % per, self.data, self.offset(s))
        self.directory_sectors = self.chain(self.directory_start)
        self.mini_fat = []
        for s in self.chain(self.mini_fat_start):
            self.mini_fat += struct.unpack_from("<%dI" % per, self.data, self.offset(s))
        root = self.entry(0)
        self.mini_stream_sectors = self.chain(root["start"])

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, start, table=None):
        table = self.fat if table is None else table
        sectors, sector = [], start
        while sector < len(table) and len(sectors) <= len(table):
            sectors.append(sector)
            sector = table[sector]
        return sectors

    def entry_offset(self, index):
        per = self.sector_size // 128
        return self.offset(self.directory_sectors[index // per]) + 128 * (index % per)

    def entry(self, index):
        at = self.entry_offset(index)
        length = struct.unpack_from("<H", self.data, at + 64)[0]
        name = bytes(self.data[at:at + max(length - 2, 0)]).decode("utf-16-le", "replace")
        kind = self.data[at + 66]
        left, right, child = struct.unpack_from("<III", self.data, at + 68)
        start, size = struct.unpack_from("<II", self.data, at + 116)
        return {"index": index, "name": name, "type": kind, "left": left, "right": right,
                "child": child, "start": start, "size": size, "offset": at}

    def children(self, index):
        """The entries directly below a storage, by name."""
        found, pending = {}, [self.entry(index)["child"]]
        while pending:
            i = pending.pop()
            if i == NO_ENTRY or len(found) > 10000:
                continue
            e = self.entry(i)
            found[e["name"]] = e
            pending += [e["left"], e["right"]]
        return found

    def find(self, path):
        """The entry at a path such as "1/users"."""
        index = 0
        for part in path.split("/"):
            index = self.children(index)[part]["index"]
        return self.entry(index)

    def is_mini(self, e):
        return e["size"] < 4096

    def stream_chain(self, e):
        return self.chain(e["start"], self.mini_fat if self.is_mini(e) else None)

    def stream_byte_offset(self, e, position):
        """Where byte `position` of a stream lies in the file."""
        chain = self.stream_chain(e)
        if self.is_mini(e):
            mini = chain[position // 64]
            mini_at = mini * 64 + position % 64
            return self.offset(self.mini_stream_sectors[mini_at // self.sector_size]) + mini_at % self.sector_size
        return self.offset(chain[position // self.sector_size]) + position % self.sector_size

    def stream(self, path):
        e = self.find(path)
        return bytes(self.data[self.stream_byte_offset(e, i)] for i in range(e["size"]))

    # -- damages: each returns new bytes --

    def patched(self, at, value_bytes):
        data = bytearray(self.data)
        data[at:at + len(value_bytes)] = value_bytes
        return bytes(data)

    def put32(self, at, value):
        return self.patched(at, struct.pack("<I", value))

    def fat_entry_offset(self, sector):
        per = self.sector_size // 4
        return self.offset(self.fat_sectors[sector // per]) + 4 * (sector % per)

    def mini_fat_entry_offset(self, sector):
        per = self.sector_size // 4
        return self.offset(self.chain(self.mini_fat_start)[sector // per]) + 4 * (sector % per)

    def looping_stream(self, path):
        """The stream's last sector (regular or mini) leads back to its first."""
        e = self.find(path)
        chain = self.stream_chain(e)
        assert chain, path
        at = self.mini_fat_entry_offset(chain[-1]) if self.is_mini(e) else self.fat_entry_offset(chain[-1])
        return self.put32(at, chain[0])

    def stream_count(self, path, position, value):
        """A 32-bit field inside a stream's bytes set to `value` (counts, lengths)."""
        e = self.find(path)
        return self.put32(self.stream_byte_offset(e, position), value)

    def looping_directory(self):
        """The directory's chain leads back to its start."""
        last = self.directory_sectors[-1]
        return self.put32(self.fat_entry_offset(last), self.directory_sectors[0])

    def directory_past_end(self):
        return self.put32(48, len(self.data) // self.sector_size + 10)

    def fat_past_end(self):
        return self.put32(76, len(self.data) // self.sector_size + 10)

    def mini_stream_past_end(self):
        return self.put32(self.entry_offset(0) + 116, len(self.data) // self.sector_size + 10)

    def looping_tree(self, path):
        """An entry whose sibling link names itself."""
        e = self.find(path)
        return self.put32(e["offset"] + 72, e["index"])

    def cut_in_directory(self):
        return bytes(self.data[:self.offset(self.directory_sectors[-1]) + 100])


def compound_file(streams):
    """A sound compound file (512-byte sectors, at most about 60 KB) whose root
    holds the given streams ({name: bytes}); streams from 4096 bytes on get
    sectors of their own."""
    names = sorted(streams)
    mini = bytearray()
    mini_fat = []
    starts = []
    big = [name for name in names if len(streams[name]) >= 4096]
    for name in names:
        data = streams[name]
        if len(data) >= 4096:
            starts.append(None)
            continue
        count = (len(data) + 63) // 64
        first = len(mini) // 64
        starts.append(first if count else END)
        for i in range(count):
            mini_fat.append(first + i + 1 if i + 1 < count else END)
        mini += data + b"\0" * (count * 64 - len(data))
    mini_sectors = (len(mini) + 511) // 512
    mini += b"\0" * (mini_sectors * 512 - len(mini))
    mini_fat_sectors = 1 if mini_fat else 0
    dir_sectors = (len(names) + 1 + 3) // 4
    # Layout: FAT, directory, mini FAT, mini stream.
    fat_sector, first_dir = 0, 1
    mini_fat_sector = first_dir + dir_sectors
    mini_start = mini_fat_sector + mini_fat_sectors
    next_sector = mini_start + mini_sectors
    big_data = bytearray()
    fat = [FREE] * 128
    for name in big:
        data = streams[name]
        count = (len(data) + 511) // 512
        starts[names.index(name)] = next_sector
        for i in range(count):
            fat[next_sector + i] = next_sector + i + 1 if i + 1 < count else END
        next_sector += count
        big_data += data + b"\0" * (count * 512 - len(data))
    total = next_sector
    assert total < 128
    fat[fat_sector] = FAT_SECTOR
    for i in range(dir_sectors):
        fat[first_dir + i] = first_dir + i + 1 if i + 1 < dir_sectors else END
    if mini_fat_sectors:
        fat[mini_fat_sector] = END
    for i in range(mini_sectors):
        fat[mini_start + i] = mini_start + i + 1 if i + 1 < mini_sectors else END
    header = bytearray(512)
    header[:8] = SIGNATURE
    struct.pack_into("<HHHHH", header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIII", header, 40, 0, 1, first_dir, 0, 4096,
                     mini_fat_sector if mini_fat_sectors else END, mini_fat_sectors, END)
    struct.pack_into("<I", header, 72, 0)
    struct.pack_into("<109I", header, 76, fat_sector, *([FREE] * 108))

    def entry(name, kind, child, right, start, size):
        e = bytearray(128)
        encoded = name.encode("utf-16-le") + b"\0\0"
        e[:len(encoded)] = encoded
        struct.pack_into("<HBB", e, 64, len(encoded), kind, 1)
        struct.pack_into("<III", e, 68, NO_ENTRY, right, child)
        struct.pack_into("<II", e, 116, start, size)
        return e

    directory = bytearray()
    directory += entry("Root Entry", 5, 1 if names else NO_ENTRY, NO_ENTRY,
                       mini_start if mini_sectors else END, len(mini) if mini_sectors else 0)
    for i, name in enumerate(names):
        directory += entry(name, 2, NO_ENTRY, i + 2 if i + 1 < len(names) else NO_ENTRY, starts[i],
                           len(streams[name]))
    directory += b"\0" * (dir_sectors * 512 - len(directory))
    for i in range(len(names) + 1, dir_sectors * 4):
        struct.pack_into("<III", directory, i * 128 + 68, NO_ENTRY, NO_ENTRY, NO_ENTRY)
    body = struct.pack("<128I", *fat) + bytes(directory)
    if mini_fat_sectors:
        body += struct.pack("<128I", *(mini_fat + [FREE] * (128 - len(mini_fat))))
    body += bytes(mini) + bytes(big_data)
    assert len(body) == total * 512
    return bytes(header) + body


def zip_file():
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        z.writestr("readme.txt", "Not a data file at all.\r\n" * 20)
    return buffer.getvalue()


def text_file():
    return b"This is a plain text file that someone saved under the data file's name.\r\n" * 8


def random_bytes(length, seed):
    generator = random.Random(seed)
    return bytes(generator.randrange(256) for _ in range(length))


def common_damages(data, looping_stream=None):
    """Damages every compound data file can suffer: {name: bytes}."""
    c = Compound(data)
    damages = {
        "zero-length": b"",
        "cut-in-header": data[:300],
        "cut-in-directory": c.cut_in_directory(),
        "cut-half": data[:len(data) // 2],
        "cut-last-sector": data[:len(data) - c.sector_size],
        "zeroed-header": b"\0" * 512 + data[512:],
        "text": text_file(),
        "zip": zip_file(),
        "random": random_bytes(len(data), 17),
        "fat-past-end": c.fat_past_end(),
        "directory-past-end": c.directory_past_end(),
        "directory-loop": c.looping_directory(),
        "mini-stream-past-end": c.mini_stream_past_end(),
        "foreign-compound": compound_file({"WordDocument": b"\x00" * 700, "\x05SummaryInformation": b"\x01" * 90}),
    }
    if looping_stream:
        damages["stream-loop"] = c.looping_stream(looping_stream)
        damages["tree-loop"] = c.looping_tree(looping_stream.split("/")[0])
    return damages
