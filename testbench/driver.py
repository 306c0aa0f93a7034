#!/usr/bin/python3
"""Runs the stand-in messenger under Wine with a scenario and hands back what it saw.

Use from a test:

    import sys; sys.path.insert(0, os.path.join(os.environ["PARLEYM_SOURCE_DIR"], "testbench"))
    from driver import Bench
    bench = Bench()                       # build dir and Wine prefix from the environment
    result = bench.run('''
        signin alice@example.com Alice
        add-contact bob@example.com Bob
        open bob@example.com
        receive bob@example.com "hi :-)"
    ''', messenger="wm", deliverables=True, loader=True)
    assert result.ok
    result.lines_starting("history conv:bob@example.com")
    result.data_file("logs.dat")          # bytes, or None

Environment: WINEPREFIX (the prefix to run in; must exist), PARLEYM_BINARY_DIR (the
win64 build tree; default: ../build/win64 from this file), PARLEYM_WINE (the wine to run,
default /usr/bin/wine; inside a session of scripts/i686/run.sh the 32-bit one, with the
win32 build tree), PARLEYM_DELIVERABLES_DIR (take the three deliverables and the fresh
users.dat from this folder, e.g. dist/, instead of the build tree). The caller provides
the X display (scripts/test.sh runs every test inside Xvfb).

Layout inside the prefix, one folder per run (never reused):
    C:\\ParleymBench\\<run>\\data\\      the data folder: ParleymHk.dll, ParleymPlugin.dll,
                                       ParleymLdr.exe, data files, extra files
    C:\\ParleymBench\\<run>\\out\\       transcript.txt, scenario.txt, screenshots (*.bmp),
                                       wine-stderr.txt (Wine's messages, crash backtraces)
    C:\\Program Files\\Messenger\\msmsgs.exe, C:\\Program Files\\MSN Messenger\\msnmsgr.exe

Command line (run it inside xvfb-run for a display):
    testbench/driver.py SCENARIO [--messenger wm|msn] [--version 6.0] [--loader]
                        [--no-deliverables] [--windows-version winxp] [--timeout 120]
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

from streams import unquote

HERE = os.path.dirname(os.path.abspath(__file__))
WINE = os.environ.get("PARLEYM_WINE", "/usr/bin/wine")

MESSENGERS = {
    # key: (executable, folder under C:\Program Files)
    "wm": ("msmsgs.exe", "Messenger"),
    "msn": ("msnmsgr.exe", "MSN Messenger"),
}

# A scenario's first lines when the loader is started in the messenger already running
# (Wine keeps a hook library mapped, so a plug-in loaded before the messenger is ready would
# never start over): the plug-in is in once it listens to the Messenger API and its menu is there.
# Without a line end: what follows starts with one (LOADER_START + r'''<newline>signin ...).
LOADER_START = '''wait no-window ParleymLdrClass timeout=10000
spawn ParleymLdr.exe
wait sinks 1 timeout=30000
wait menu main Parleym timeout=10000'''

# Its last lines: the loader closed (WM_CLOSE) goes with its hooks, so the next run starts clean.
LOADER_END = '''post class:ParleymLdrClass 16
wait no-window ParleymLdrClass timeout=10000
exit
'''

# The Windows version each messenger runs in: the one its installation sets.
WINDOWS_VERSIONS = {"wm": "winxp", "msn": "win2k"}

DELIVERABLES = {
    # file name: where the win64 build puts it, relative to the build tree
    "ParleymHk.dll": "hook/ParleymHk.dll",
    "ParleymPlugin.dll": "plugin/ParleymPlugin.dll",
    "ParleymLdr.exe": "loader/ParleymLdr.exe",
}


class Result:
    """What one run left behind."""

    def __init__(self, exit_code, timed_out, transcript, data_dir, out_dir):
        self.exit_code = exit_code
        self.timed_out = timed_out
        self.transcript = transcript
        self.lines = transcript.splitlines()
        self.data_dir = data_dir  # Linux path of the data folder
        self.out_dir = out_dir  # Linux path of the transcript and screenshots

    @property
    def ok(self):
        """The stand-in ended by itself and every step worked."""
        return not self.timed_out and self.exit_code == 0

    @property
    def crashed(self):
        """The stand-in died without finishing its transcript (a crash inside it: Wine's
        backtrace is in out/wine-stderr.txt)."""
        return not self.timed_out and not any(l.startswith("end failures=") for l in self.lines)

    def lines_starting(self, prefix):
        return [line for line in self.lines if line.startswith(prefix)]

    def last(self, prefix):
        """The last line starting with prefix, without the prefix; None if none."""
        found = self.lines_starting(prefix)
        return found[-1][len(prefix):].strip() if found else None

    def failures(self):
        return [line for line in self.lines
                if line.startswith(("step-failed", "wait-failed", "error", "box-unexpected"))]

    def sent(self, contact):
        """The texts the user's side sent, delivered, in the contact's conversation window."""
        prefix = "sent conv:%s delivered=yes text=" % contact
        return [unquote(line[len(prefix):])[0] for line in self.lines if line.startswith(prefix)]

    def titles(self, contact):
        """The titles the contact's conversation window had, in order."""
        prefix = "title conv:%s " % contact
        return [unquote(line[len(prefix):])[0] for line in self.lines if line.startswith(prefix)]

    def data_file(self, name):
        path = os.path.join(self.data_dir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def screenshots(self):
        return sorted(os.path.join(self.out_dir, n) for n in os.listdir(self.out_dir)
                      if n.endswith(".bmp"))

    def describe(self):
        """The whole transcript, for assertion messages."""
        state = "timed out" if self.timed_out else "exit %s" % self.exit_code
        if self.crashed:
            state += ", crashed"
        text = "stand-in %s; transcript:\n%s" % (state, self.transcript)
        stderr = os.path.join(self.out_dir, "wine-stderr.txt")
        if self.crashed and os.path.exists(stderr):
            with open(stderr, "r", errors="replace") as f:
                text += "\nWine's output:\n" + f.read()[-6000:]
        return text


class Bench:
    def __init__(self, binary_dir=None, prefix=None, deliverables_dir=None):
        self.binary_dir = os.path.abspath(binary_dir or os.environ.get("PARLEYM_BINARY_DIR")
                                          or os.path.join(HERE, "..", "build", "win64"))
        # Where the deliverables come from: the build tree (None) or a release folder.
        self.deliverables_dir = deliverables_dir or os.environ.get("PARLEYM_DELIVERABLES_DIR") or None
        self.prefix = prefix or os.environ.get("WINEPREFIX")
        if not self.prefix or not os.path.isdir(os.path.join(self.prefix, "drive_c")):
            raise RuntimeError("WINEPREFIX must name an existing Wine prefix")
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.env = dict(os.environ)
        self.env["WINEPREFIX"] = self.prefix
        self.env.setdefault("WINEDEBUG", "-all")
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        self._fresh_users = None

    # -- paths -------------------------------------------------------------------
    def windows_path(self, linux_path):
        relative = os.path.relpath(os.path.abspath(linux_path), self.drive_c)
        if relative.startswith(".."):
            raise ValueError("%s is outside drive C: of the prefix" % linux_path)
        return "C:\\" + relative.replace("/", "\\")

    def standin_path(self, messenger, version=None):
        exe = MESSENGERS[messenger][0]
        folder = os.path.join(self.binary_dir, "testbench", "bin")
        if version:
            folder = os.path.join(folder, "v" + version)
        path = os.path.join(folder, exe)
        if not os.path.exists(path):
            raise FileNotFoundError("no stand-in %s for version %s at %s" % (exe, version, path))
        return path

    def built(self, relative):
        """Path of a file in the build tree, or None."""
        path = os.path.join(self.binary_dir, relative)
        return path if os.path.exists(path) else None

    def viewer_pilot(self):
        """extra_files entry for the test program that drives the log viewer."""
        return {"logviewer_pilot.exe": os.path.join(self.binary_dir, "tests", "logging", "logviewer_pilot.exe")}

    # -- Wine ----------------------------------------------------------------------
    def wine(self, *args, timeout=60):
        return subprocess.run([WINE] + list(args), env=self.env, timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def quiet_crashes(self):
        """Wine's crash dialog would hold a crashed program until the timeout; without it
        the program ends at once and winedbg writes its backtrace to stderr. Once per prefix."""
        marker = os.path.join(self.drive_c, "ParleymBench", "crash-dialog-off")
        if os.path.exists(marker):
            return
        self.wine("reg", "add", "HKCU\\Software\\Wine\\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
                  "/d", "0", "/f")
        os.makedirs(os.path.dirname(marker), exist_ok=True)
        open(marker, "w").close()

    def users_dat_tool(self, command, path):
        """Runs the build's users-dat.exe on a file inside the prefix; returns its output."""
        tool = os.path.join(self.binary_dir, "tools", "users-dat.exe")
        return subprocess.run([WINE, tool, command, self.windows_path(path)], env=self.env,
                              timeout=60, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                              errors="replace", check=True).stdout

    def fresh_users_dat(self):
        """users.dat as a fresh installation has it (no accounts): the release's own when the
        deliverables come from one, else written once by the build's tool."""
        if self._fresh_users is None and self.deliverables_dir:
            with open(os.path.join(self.deliverables_dir, "users.dat"), "rb") as f:
                self._fresh_users = f.read()
        if self._fresh_users is None:
            path = os.path.join(self.drive_c, "ParleymBench", "fresh-users-%d.dat" % os.getpid())
            os.makedirs(os.path.dirname(path), exist_ok=True)
            self.users_dat_tool("create", path)
            with open(path, "rb") as f:
                self._fresh_users = f.read()
            os.remove(path)
        return self._fresh_users

    def set_windows_version(self, exe, version):
        """Per-program Windows version (winxp, win2k, ...); None removes the setting.

        The prefix is shared by every test of a run, so what one run set is undone by
        the next one. A version asked for is always written; clearing it is skipped when
        the bench's own note says it is already clear (other tests put back what they
        found), which saves starting reg.exe for every ordinary run.
        """
        state_path = os.path.join(self.drive_c, "ParleymBench", "appdefaults-" + exe + ".txt")
        current = None
        if os.path.exists(state_path):
            with open(state_path) as f:
                current = f.read().strip() or None
        if version is None and current is None:
            return
        key = "HKCU\\Software\\Wine\\AppDefaults\\" + exe
        if version:
            self.wine("reg", "add", key, "/v", "Version", "/t", "REG_SZ", "/d", version, "/f")
        else:
            self.wine("reg", "delete", key, "/v", "Version", "/f")
        os.makedirs(os.path.dirname(state_path), exist_ok=True)
        with open(state_path, "w") as f:
            f.write(version or "")

    def clear_windows_version(self, messenger):
        """Puts the messenger's Windows version back to the prefix's own (after windows_version=)."""
        self.set_windows_version(MESSENGERS[messenger][0], None)

    # -- a run -----------------------------------------------------------------------
    def run(self, scenario, messenger="wm", version=None, deliverables=True, loader=False,
            plugin=None, data_files=None, extra_files=None, windows_version=None,
            timeout=120, name=None, locale=None):
        """Runs one scenario and returns a Result.

        scenario: the scenario text. messenger: "wm" or "msn". version: a stand-in variant
        built with another version resource ("6.0", "4.5"). deliverables: copy the hook
        library, plug-in and loader into the data folder (from the bench's deliverables_dir
        when it has one, else from the build tree). loader: start ParleymLdr.exe
        from the data folder first (it is killed when the stand-in has ended). plugin:
        path of a DLL to use as ParleymPlugin.dll instead of the built one. data_files:
        {name: bytes} written into the data folder. extra_files: {name: path} copied in.
        windows_version: Wine's version for the messenger executable (winxp, win2k).
        locale: a locale such as "ru_RU.UTF-8" for the messenger (and what it starts): Wine
        takes the system's ANSI code page from it; the host must have it (scripts/setup.sh).
        """
        run_dir = self._new_run_dir(name)
        data_dir = os.path.join(run_dir, "data")
        out_dir = os.path.join(run_dir, "out")
        os.makedirs(data_dir)
        os.makedirs(out_dir)
        if deliverables:
            for file_name, relative in DELIVERABLES.items():
                source = (os.path.join(self.deliverables_dir, file_name) if self.deliverables_dir
                          else self.built(relative))
                if source and os.path.exists(source):
                    shutil.copy(source, os.path.join(data_dir, file_name))
        if plugin:
            shutil.copy(plugin, os.path.join(data_dir, "ParleymPlugin.dll"))
        for file_name, path in (extra_files or {}).items():
            shutil.copy(path, os.path.join(data_dir, file_name))
        for file_name, content in (data_files or {}).items():
            with open(os.path.join(data_dir, file_name), "wb") as f:
                f.write(content)

        exe, folder = MESSENGERS[messenger]
        install_dir = os.path.join(self.drive_c, "Program Files", folder)
        os.makedirs(install_dir, exist_ok=True)
        exe_path = os.path.join(install_dir, exe)
        shutil.copy(self.standin_path(messenger, version), exe_path)
        self.quiet_crashes()
        self.set_windows_version(exe, windows_version)

        scenario_path = os.path.join(out_dir, "scenario.txt")
        with open(scenario_path, "w", encoding="utf-8", newline="\r\n") as f:
            f.write(_dedent(scenario))
        transcript_path = os.path.join(out_dir, "transcript.txt")

        env = dict(self.env, LANG=locale, LC_ALL=locale) if locale else self.env
        loader_process = None
        if loader:
            loader_exe = os.path.join(data_dir, "ParleymLdr.exe")
            if not os.path.exists(loader_exe):
                raise FileNotFoundError("no ParleymLdr.exe to start")
            loader_process = subprocess.Popen([WINE, self.windows_path(loader_exe)],
                                              cwd=data_dir, env=env,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(1.0)  # let it install its hooks before the messenger starts

        command = [WINE, self.windows_path(exe_path),
                   "--scenario", self.windows_path(scenario_path),
                   "--transcript", self.windows_path(transcript_path),
                   "--out", self.windows_path(out_dir),
                   "--data", self.windows_path(data_dir)]
        timed_out = False
        stderr = open(os.path.join(out_dir, "wine-stderr.txt"), "wb")
        process = subprocess.Popen(command, cwd=install_dir, env=env,
                                   stdout=subprocess.DEVNULL, stderr=stderr)
        try:
            exit_code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            process.kill()
            exit_code = process.wait()
        finally:
            stderr.close()
            if loader_process:
                loader_process.kill()
                loader_process.wait()
        transcript = ""
        if os.path.exists(transcript_path):
            with open(transcript_path, "r", encoding="utf-8", errors="replace") as f:
                transcript = f.read()
        return Result(exit_code, timed_out, transcript, data_dir, out_dir)

    def _new_run_dir(self, name):
        base = os.path.join(self.drive_c, "ParleymBench")
        os.makedirs(base, exist_ok=True)
        stem = "%s-%d" % (name or "run", os.getpid())
        for n in range(1000):
            path = os.path.join(base, "%s-%d" % (stem, n))
            if not os.path.exists(path):
                return path
        raise RuntimeError("no free run folder under " + base)


def _dedent(text):
    lines = text.splitlines()
    indents = [len(l) - len(l.lstrip()) for l in lines if l.strip()]
    cut = min(indents) if indents else 0
    return "\n".join(l[cut:] for l in lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description="Run a stand-in messenger scenario under Wine.")
    parser.add_argument("scenario", help="scenario file")
    parser.add_argument("--messenger", choices=sorted(MESSENGERS), default="wm")
    parser.add_argument("--version", help="stand-in variant, e.g. 6.0")
    parser.add_argument("--loader", action="store_true", help="start ParleymLdr.exe first")
    parser.add_argument("--no-deliverables", action="store_true")
    parser.add_argument("--windows-version", help="winxp, win2k, ... for the messenger")
    parser.add_argument("--timeout", type=int, default=120)
    parser.add_argument("--deliverables-dir", help="take the deliverables from here (e.g. dist/)")
    args = parser.parse_args()
    with open(args.scenario, encoding="utf-8") as f:
        scenario = f.read()
    bench = Bench(deliverables_dir=args.deliverables_dir)
    result = bench.run(scenario, messenger=args.messenger, version=args.version,
                       deliverables=not args.no_deliverables, loader=args.loader,
                       windows_version=args.windows_version, timeout=args.timeout)
    sys.stdout.write(result.transcript)
    print("-- transcript and screenshots in", result.out_dir)
    print("-- data folder", result.data_dir)
    return 0 if result.ok else 1


if __name__ == "__main__":
    sys.exit(main())
