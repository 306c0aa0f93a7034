#!/usr/bin/python3
"""The installer script, built for amd64 from the x86_64 deliverables, under wine64:
a silent install into a folder of our choice puts the files, the Start-menu shortcut and
the uninstall entry in place; a second install keeps the user's users.dat; the silent
uninstall removes what was installed and keeps the data files with /KEEPDATA, removes
them with /REMOVEDATA."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get("PARLEYM_SOURCE_DIR",
                            os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "testbench"))

from driver import Bench  # noqa: E402

DELIVERABLES = {"ParleymLdr.exe": "loader", "ParleymHk.dll": "hook", "ParleymPlugin.dll": "plugin"}
INSTALLED = sorted(list(DELIVERABLES) + ["README.txt", "users.dat", "Uninstall.exe"])
DATA_FILES = ["logs.dat", "stats.dat", "objcache.dat", "offlinemsg.dat", "users.dat"]
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Parleym"


class InstallerUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not shutil.which("makensis"):
            raise unittest.SkipTest("makensis missing: scripts/setup.sh installs nsis")
        cls.bench = Bench()
        cls.work = tempfile.mkdtemp(prefix="installer-", dir=cls.bench.drive_c)
        files = os.path.join(cls.work, "files")
        os.makedirs(files)
        for name, folder in DELIVERABLES.items():
            shutil.copy(os.path.join(cls.bench.binary_dir, folder, name), files)
        shutil.copy(os.path.join(SOURCE_DIR, "installer", "README.txt"), files)
        tool = os.path.join(cls.bench.binary_dir, "tools", "users-dat.exe")
        subprocess.run(["/usr/bin/wine", tool, "create", cls.bench.windows_path(os.path.join(files, "users.dat"))],
                       env=cls.bench.env, check=True, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.setup_exe = os.path.join(cls.work, "Parleym-amd64-setup.exe")
        subprocess.run(["makensis", "-V2", "-WX", "-DAMD64", "-DSRCDIR=" + SOURCE_DIR, "-DFILES=" + files,
                        "-DOUTFILE=" + cls.setup_exe, os.path.join(SOURCE_DIR, "installer", "Parleym.nsi")],
                       check=True, timeout=120)
        # No blank in it: Wine quotes such an argument, and NSIS takes /D= only unquoted.
        cls.target = os.path.join(cls.work, "ChosenFolder")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def wine(self, *args, timeout=60):
        return subprocess.run(["/usr/bin/wine"] + list(args), env=self.bench.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, errors="replace")

    def install(self):
        # /D= must come last.
        result = self.wine(self.setup_exe, "/S", "/D=" + self.bench.windows_path(self.target), timeout=120)
        self.assertEqual(result.returncode, 0)

    def uninstall(self, choice):
        # The uninstaller copies itself away and runs from there; the copy deletes
        # Uninstall.exe near its end, so that is when it is done.
        uninstaller = os.path.join(self.target, "Uninstall.exe")
        self.assertEqual(self.wine(uninstaller, "/S", choice).returncode, 0)
        deadline = time.time() + 60
        while os.path.exists(uninstaller) and time.time() < deadline:
            time.sleep(0.2)
        self.assertFalse(os.path.exists(uninstaller), "uninstaller did not finish")
        deadline = time.time() + 20
        while self.uninstall_entry() is not None and time.time() < deadline:
            time.sleep(0.5)

    def shortcuts(self):
        users = os.path.join(self.bench.drive_c, "users")
        return sorted(glob.glob(os.path.join(users, "*", "**", "Programs", "Parleym", "*.lnk"), recursive=True))

    def uninstall_entry(self):
        result = self.wine("reg", "query", UNINSTALL_KEY, "/v", "UninstallString")
        return result.stdout if result.returncode == 0 else None

    def test_install_reinstall_and_both_uninstall_choices(self):
        self.assertEqual(self.shortcuts(), [], "a Parleym shortcut was there before installing")
        self.install()
        self.assertEqual(sorted(os.listdir(self.target)), INSTALLED)
        for name, folder in DELIVERABLES.items():
            with open(os.path.join(self.bench.binary_dir, folder, name), "rb") as built, \
                    open(os.path.join(self.target, name), "rb") as installed:
                self.assertEqual(built.read(), installed.read(), name)
        links = self.shortcuts()
        self.assertEqual([os.path.basename(l) for l in links], ["Parleym.lnk", "Uninstall Parleym.lnk"])
        with open(links[0], "rb") as f:
            self.assertIn(b"ParleymLdr.exe", f.read())
        entry = self.uninstall_entry()
        self.assertIsNotNone(entry, "no uninstall entry")
        self.assertIn("Uninstall.exe", entry)

        # The user's data comes into being; installing again must not replace users.dat.
        for name in DATA_FILES:
            with open(os.path.join(self.target, name), "wb") as f:
                f.write(b"user data: " + name.encode())
        self.install()
        with open(os.path.join(self.target, "users.dat"), "rb") as f:
            self.assertEqual(f.read(), b"user data: users.dat")

        self.uninstall("/KEEPDATA")
        self.assertEqual(sorted(os.listdir(self.target)), sorted(DATA_FILES))
        self.assertEqual(self.shortcuts(), [])
        self.assertIsNone(self.uninstall_entry())

        self.install()
        self.uninstall("/REMOVEDATA")
        self.assertFalse(os.path.exists(self.target), "folder left: %s" %
                         (os.listdir(self.target) if os.path.exists(self.target) else ""))
        self.assertEqual(self.shortcuts(), [])


if __name__ == "__main__":
    unittest.main()
