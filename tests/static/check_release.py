#!/usr/bin/env python3
"""Static checks of the i686 release: the deliverables are PE32 with exact export names,
import only Windows' own DLLs (everything else is linked statically) and carry one and the
same version resource; dist/ holds the installer and a zip of exactly what a user needs.

Usage: check_release.py BUILD_WIN32 DIST SOURCE_DIR"""
import re
import struct
import sys
import unittest
import zipfile
from pathlib import Path

RELEASE = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path("build/win32")
DIST = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path("dist")
SOURCE = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path(".")

DELIVERABLES = {"ParleymLdr.exe": "loader", "ParleymHk.dll": "hook", "ParleymPlugin.dll": "plugin"}
ZIP_CONTENTS = sorted(list(DELIVERABLES) + ["users.dat", "README.txt"])
RT_VERSION = 16


def header_version():
    """The version numbers kept in shared/Version.h."""
    text = (SOURCE / "shared" / "Version.h").read_text()
    return tuple(int(re.search(r"#define PARLEYM_VERSION_%s (\d+)" % part, text).group(1))
                 for part in ("MAJOR", "MINOR", "PATCH"))

WINDOWS_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "comdlg32.dll", "version.dll", "shlwapi.dll", "msvcrt.dll",
    "ws2_32.dll", "uxtheme.dll", "imm32.dll", "winmm.dll",
}


class PeFile:
    def __init__(self, path):
        self.data = path.read_bytes()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        self.machine, nsections, _, _, _, opt_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", self.data, opt)[0]
        self.subsystem = struct.unpack_from("<H", self.data, opt + 68)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, dirs + 8 * i) for i in range(16)]
        sect = opt + opt_size
        self.sections = []
        for i in range(nsections):
            vsize, va, rsize, raw = struct.unpack_from("<IIII", self.data, sect + 40 * i + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError(f"rva {rva:#x} outside every section")

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        base = self.offset(rva)
        count = struct.unpack_from("<I", self.data, base + 24)[0]
        names_rva = struct.unpack_from("<I", self.data, base + 32)[0]
        return sorted(self.cstring(struct.unpack_from("<I", self.data, self.offset(names_rva) + 4 * i)[0])
                      for i in range(count))

    def resource(self, type_id):
        """The bytes of the first resource of a numbered type, or None."""
        rva, size = self.directories[2]
        if not size:
            return None
        base = self.offset(rva)

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                yield name, target

        for name, target in entries(base):
            if name != type_id or not target & 0x80000000:
                continue
            at = base + (target & 0x7FFFFFFF)
            while True:  # first name, first language
                _, target = next(entries(at))
                if not target & 0x80000000:
                    break
                at = base + (target & 0x7FFFFFFF)
            data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
            start = self.offset(data_rva)
            return self.data[start:start + data_size]
        return None

    def version_info(self):
        """(fixed file version, fixed product version, {string name: value}) of the
        version resource, or None without one."""
        block = self.resource(RT_VERSION)
        if block is None:
            return None
        key, value, children = parse_version_block(block, 0)
        if key != "VS_VERSION_INFO" or len(value) < 52:
            raise ValueError("malformed version resource")
        signature, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", value, 0)
        if signature != 0xFEEF04BD:
            raise ValueError("no VS_FIXEDFILEINFO signature")
        strings = {}
        for child_key, _, tables in children:
            if child_key == "StringFileInfo":
                for _, _, pairs in tables:
                    for name, text, _ in pairs:
                        strings[name] = text
        split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        return split(fms, fls), split(pms, pls), strings

    def imports(self):
        rva, size = self.directories[1]
        result = []
        at = self.offset(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, at + 12)[0]
            if name_rva == 0:
                return result
            result.append(self.cstring(name_rva))
            at += 20


def parse_version_block(data, at):
    """One node of a version resource: (key, value, children); text values as str."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_at = at + 6
    key_end = key_at
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_at:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    if kind == 1:  # text: the length counts UTF-16 units, terminator included
        raw = data[value_at:value_at + 2 * value_length]
        value = raw.decode("utf-16-le").split("\0")[0]
        value_end = value_at + 2 * value_length
    else:
        value = data[value_at:value_at + value_length]
        value_end = value_at + value_length
    children = []
    child = (value_end + 3) & ~3
    while child < end:
        node = parse_version_block(data, child)
        children.append(node)
        child = (child + struct.unpack_from("<H", data, child)[0] + 3) & ~3
    return key, value, children


class ReleaseDeliverables(unittest.TestCase):
    def load(self, name):
        path = RELEASE / name
        self.assertTrue(path.exists(), f"{path} missing")
        return PeFile(path)

    def check_common(self, pe):
        self.assertEqual(pe.machine, 0x14C, "i386 machine")
        self.assertEqual(pe.magic, 0x10B, "PE32 optional header")
        foreign = {d.lower() for d in pe.imports()} - WINDOWS_DLLS
        self.assertFalse(foreign, f"imports beyond Windows' own DLLs: {foreign}")

    def test_loader_is_a_gui_program(self):
        pe = self.load("loader/ParleymLdr.exe")
        self.check_common(pe)
        self.assertEqual(pe.subsystem, 2, "GUI subsystem")
        self.assertFalse(pe.characteristics & 0x2000, "not a DLL")

    def test_hook_library_exports_its_three_procedures_undecorated(self):
        pe = self.load("hook/ParleymHk.dll")
        self.check_common(pe)
        self.assertTrue(pe.characteristics & 0x2000, "a DLL")
        self.assertEqual(pe.exports(), ["CallWndProc", "CallWndRetProc", "GetMsgProc"])

    def test_plugin_exports_get_instance_only(self):
        pe = self.load("plugin/ParleymPlugin.dll")
        self.check_common(pe)
        self.assertTrue(pe.characteristics & 0x2000, "a DLL")
        self.assertEqual(pe.exports(), ["GetInstance"])


class VersionResources(unittest.TestCase):
    SHARED = ("ProductName", "ProductVersion", "FileVersion", "CompanyName", "LegalCopyright")

    def infos(self, folder, layout):
        result = {}
        for name, subfolder in DELIVERABLES.items():
            path = folder / subfolder / name if layout else folder / name
            self.assertTrue(path.exists(), f"{path} missing")
            info = PeFile(path).version_info()
            self.assertIsNotNone(info, f"{path} has no version resource")
            result[name] = info
        return result

    def check(self, infos):
        version = header_version()
        descriptions = set()
        for name, (file_version, product_version, strings) in infos.items():
            self.assertEqual(file_version, version + (0,), name)
            self.assertEqual(product_version, version + (0,), name)
            self.assertEqual(strings.get("ProductName"), "Parleym", name)
            self.assertEqual(strings.get("FileVersion"), "%d.%d.%d" % version, name)
            self.assertEqual(strings.get("OriginalFilename"), name)
            self.assertRegex(strings.get("LegalCopyright", ""), r"^Copyright \(C\) \d{4} \S", name)
            self.assertTrue(strings.get("FileDescription"), name)
            descriptions.add(strings["FileDescription"])
        self.assertEqual(len(descriptions), len(infos), "each deliverable describes itself")
        first = next(iter(infos.values()))[2]
        for name, (_, _, strings) in infos.items():
            for key in self.SHARED:
                self.assertEqual(strings.get(key), first.get(key), f"{key} of {name}")

    def test_built_deliverables_carry_one_version(self):
        self.check(self.infos(RELEASE, layout=True))

    def test_released_copies_keep_it(self):
        self.check(self.infos(DIST, layout=False))


class ReleasePackages(unittest.TestCase):
    def version_text(self):
        return "%d.%d.%d" % header_version()

    def test_installer_is_an_i686_nsis_installer_of_this_version(self):
        path = DIST / f"Parleym-{self.version_text()}-setup.exe"
        self.assertTrue(path.exists(), f"{path} missing (scripts/dist.sh builds it)")
        pe = PeFile(path)
        self.assertEqual((pe.machine, pe.magic), (0x14C, 0x10B), "an installer for 32-bit Windows")
        self.assertIn(b"Nullsoft", pe.data)
        file_version, product_version, strings = pe.version_info()
        self.assertEqual(file_version, header_version() + (0,))
        self.assertEqual(strings.get("ProductName"), "Parleym")
        self.assertEqual(strings.get("ProductVersion"), self.version_text())

    def test_zip_holds_exactly_the_release_files(self):
        path = DIST / f"Parleym-{self.version_text()}.zip"
        self.assertTrue(path.exists(), f"{path} missing (scripts/dist.sh builds it)")
        with zipfile.ZipFile(path) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(sorted(z.namelist()), ZIP_CONTENTS)
            for name in ZIP_CONTENTS:
                self.assertEqual(z.read(name), (DIST / name).read_bytes(), name)
            readme = z.read("README.txt").decode("ascii")
        self.assertIn("\r\n", readme, "Windows line ends")
        for heading in ("What it does", "Install", "Start", "Uninstall", "Where the data files live"):
            self.assertIn(heading, readme)
        for data_file in ("users.dat", "logs.dat", "stats.dat", "objcache.dat", "offlinemsg.dat"):
            self.assertIn(data_file, readme)


if __name__ == "__main__":
    unittest.main(verbosity=2)
