#!/usr/bin/env python3
"""Static checks of the i686 release deliverables: PE32, exact export names,
and only Windows' own DLLs imported (everything else is linked statically)."""
import struct
import sys
import unittest
from pathlib import Path

RELEASE = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else Path("build/win32")

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
