#!/usr/bin/python3
"""The guided tour: every feature's scenario (demo/scenario_<feature>.py) run with the real loader,
hook library and plug-in in the stand-in messenger, and a report in build/demo/index.html.

Run by scripts/demo.sh inside Xvfb, after the x86_64 build:
    tour.py [--build build/win64] [--out build/demo] [--prefix build/demo-prefix] [feature...]
or, inside a session of scripts/i686/run.sh, the i686 release as dist/ holds it
(`scripts/demo.sh --i686`):
    tour.py --i686 [--build build/win32] [--out build/demo-i686] [--prefix build/demo-i686-prefix] [feature...]
Exit status 1 when a step's checks fail (or a scenario could not run), else 0.
"""
import argparse
import html
import importlib
import os
import shutil
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "testbench"))
sys.path.insert(0, HERE)

from driver import WINE, WINDOWS_VERSIONS, Bench  # noqa: E402

# The tour's order: a user's first day with Parleym.
FEATURES = ["tray", "logging", "search", "export", "languages", "recovery", "lock", "stats", "offline", "broadcast",
            "forward", "about", "salvage"]


class Context:
    """What every scenario may need: the bench and the options of an ordinary run."""

    def __init__(self, bench, root):
        self.bench = bench
        self.root = root

    def run_options(self, messenger, **more):
        """Bench.run's options for a run in `messenger`, in the Windows version its
        installation sets, on a fresh users.dat; `more` adds to them."""
        return dict(messenger=messenger, windows_version=WINDOWS_VERSIONS[messenger],
                    data_files={"users.dat": self.bench.fresh_users_dat()}, **more)


def check(label, ok):
    return (label, bool(ok))


def to_png(bmp, png):
    if not bmp or not os.path.exists(bmp):
        return False
    return subprocess.run(["convert", bmp, png], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def run_feature(name, ctx, out_dir):
    """Returns a dict: name, title, status ("ran", "skipped", "error"), note, steps."""
    module = importlib.import_module("scenario_" + name)
    entry = {"name": name, "title": module.TITLE, "steps": [], "note": ""}
    missing = [path for path in module.REQUIRES if not os.path.exists(os.path.join(ROOT, path))]
    if missing:
        entry["status"] = "skipped"
        entry["note"] = "%s is not built yet (no %s)" % (module.TITLE, ", ".join(missing))
        return entry
    if module.SCENARIO is None:
        entry["status"] = "skipped"
        entry["note"] = "%s is being built; the tour has no scenario for it yet" % module.TITLE
        return entry
    started = time.time()
    try:
        result = ctx.bench.run(module.SCENARIO, name="tour-" + name, timeout=180, **module.run_options(ctx))
        steps = module.steps(result, ctx)
        for number, step in enumerate(steps, 1):
            if not result.ok and number == 1:
                step["checks"].insert(0, check("the scenario ran to its end without a failed step",
                                               False))
            elif number == 1:
                step["checks"].insert(0, check("the scenario ran to its end without a failed step", True))
            shot = step.get("shot")
            step["png"] = None
            if shot:
                png_name = "%s-%s.png" % (name, shot)
                png = os.path.join(out_dir, png_name)
                found = os.path.join(result.out_dir, shot + ".bmp")
                if to_png(found, png):
                    step["png"] = png_name
                step["checks"].append(check("screenshot %s.bmp taken" % shot, step["png"]))
        entry["steps"] = steps
        entry["status"] = "ran"
        entry["run_dir"] = os.path.dirname(result.out_dir)
        if not result.ok:
            entry["note"] = "scenario failures: " + "; ".join(result.failures()[:5] or ["see transcript"])
        shutil.copy(os.path.join(result.out_dir, "transcript.txt"), os.path.join(out_dir, name + "-transcript.txt"))
    except Exception:  # a scenario that cannot run is a failure of the tour, not a crash of it
        entry["status"] = "error"
        entry["note"] = traceback.format_exc(limit=3)
    entry["seconds"] = time.time() - started
    return entry


def passed(step):
    return all(ok for _, ok in step["checks"])


def write_report(entries, out_dir, seconds, build="the x86_64 build"):
    steps = [s for e in entries for s in e["steps"]]
    n_pass = sum(1 for s in steps if passed(s))
    n_fail = len(steps) - n_pass + sum(1 for e in entries if e["status"] == "error")
    skipped = [e for e in entries if e["status"] == "skipped"]
    e = html.escape
    parts = ["""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Parleym tour</title>
<style>
body{font-family:sans-serif;max-width:1100px;margin:2em auto;color:#222}
.pass{color:#0a7d2c}.fail{color:#c0182a}.skip{color:#777}
.step{border:1px solid #ccc;border-radius:6px;padding:1em;margin:1em 0}
.step img{max-width:100%;border:1px solid #999}
.mark{font-weight:bold;font-size:1.2em}
ul.checks{font-size:.9em}
table.summary td{padding:2px 12px}
</style></head><body>
<h1>Parleym: a guided tour</h1>
<p>Each step below ran the real ParleymLdr.exe, ParleymHk.dll and ParleymPlugin.dll (BUILD)
inside the stand-in messenger under Wine; the screenshots are the screen as it was,
the marks come from what the stand-in's transcript recorded and from the data files decoded.</p>
""".replace("BUILD", e(build))]
    overall = "pass" if n_fail == 0 else "fail"
    parts.append('<h2 class="%s">%d passed, %d failed, %d features skipped (%.0f s)</h2>' % (
        overall, n_pass, n_fail, len(skipped), seconds))
    parts.append('<table class="summary">')
    for entry in entries:
        if entry["status"] == "skipped":
            parts.append('<tr><td>%s</td><td class="skip">skipped: %s</td></tr>' % (e(entry["title"]), e(entry["note"])))
        elif entry["status"] == "error":
            parts.append('<tr><td><a href="#%s">%s</a></td><td class="fail">could not run</td></tr>' % (
                entry["name"], e(entry["title"])))
        else:
            ok = sum(1 for s in entry["steps"] if passed(s))
            cls = "pass" if ok == len(entry["steps"]) else "fail"
            parts.append('<tr><td><a href="#%s">%s</a></td><td class="%s">%d of %d steps passed</td></tr>' % (
                entry["name"], e(entry["title"]), cls, ok, len(entry["steps"])))
    parts.append("</table>")
    for entry in entries:
        if entry["status"] == "skipped":
            continue
        parts.append('<h2 id="%s">%s</h2>' % (entry["name"], e(entry["title"])))
        if entry["note"]:
            parts.append('<p class="fail"><pre>%s</pre></p>' % e(entry["note"]))
        if entry["status"] == "ran":
            parts.append('<p><a href="%s-transcript.txt">transcript</a> (%.0f s)</p>' % (entry["name"], entry["seconds"]))
        for step in entry["steps"]:
            ok = passed(step)
            parts.append('<div class="step"><h3><span class="mark %s">%s</span> %s</h3><p>%s</p>' % (
                "pass" if ok else "fail", "&#10004; pass" if ok else "&#10008; FAIL", e(step["title"]), e(step["story"])))
            if step.get("png"):
                parts.append('<img src="%s" alt="%s">' % (step["png"], e(step["title"])))
            parts.append('<ul class="checks">')
            for label, good in step["checks"]:
                parts.append('<li class="%s">%s %s</li>' % ("pass" if good else "fail",
                                                             "&#10004;" if good else "&#10008;", e(label)))
            parts.append("</ul></div>")
    parts.append("</body></html>\n")
    path = os.path.join(out_dir, "index.html")
    with open(path, "w") as f:
        f.write("\n".join(parts))
    return path, n_pass, n_fail


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--i686", action="store_true",
                        help="the i686 release from dist/ in 32-bit Wine (inside scripts/i686/run.sh)")
    parser.add_argument("--build")
    parser.add_argument("--out")
    parser.add_argument("--prefix")
    parser.add_argument("features", nargs="*", default=FEATURES)
    args = parser.parse_args()
    flavour, suffix = ("win32", "-i686") if args.i686 else ("win64", "")
    args.build = args.build or os.path.join(ROOT, "build", flavour)
    args.out = args.out or os.path.join(ROOT, "build", "demo" + suffix)
    args.prefix = args.prefix or os.path.join(ROOT, "build", "demo%s-prefix" % suffix)
    if args.i686 and not os.environ.get("PARLEYM_I686_ROOT"):
        parser.error("--i686 runs inside scripts/i686/run.sh (scripts/demo.sh --i686 does that)")
    started = time.time()
    out_dir = os.path.abspath(args.out)
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    prefix = os.path.abspath(args.prefix)
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        print("tour: making the Wine prefix %s (once)" % prefix, flush=True)
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), prefix], check=True)
    bench = Bench(binary_dir=args.build, prefix=prefix,
                  deliverables_dir=os.path.join(ROOT, "dist") if args.i686 else None)
    # One wineserver for the whole tour (starting one per run costs seconds), and Wine's
    # services started now, detached from our output.
    subprocess.run(["wineserver", "-p"], env=bench.env)
    subprocess.run([WINE, "cmd.exe", "/c", "exit"], env=bench.env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    # Runs of earlier tours are not needed again.
    shutil.rmtree(os.path.join(bench.drive_c, "ParleymBench"), ignore_errors=True)
    ctx = Context(bench, ROOT)
    entries = []
    for name in args.features:
        entry = run_feature(name, ctx, out_dir)
        entries.append(entry)
        if entry["status"] == "skipped":
            print("tour: skipped %s: %s" % (entry["title"], entry["note"]), flush=True)
        elif entry["status"] == "error":
            print("tour: %s could not run:\n%s" % (entry["title"], entry["note"]), flush=True)
        else:
            for step in entry["steps"]:
                print("tour: %s  %s: %s" % ("pass" if passed(step) else "FAIL", entry["title"], step["title"]),
                      flush=True)
                for label, ok in step["checks"]:
                    if not ok:
                        print("        failed check: " + label, flush=True)
    subprocess.run(["wineserver", "-k"], env=bench.env, stderr=subprocess.DEVNULL)
    path, n_pass, n_fail = write_report(entries, out_dir, time.time() - started,
                                        "the i686 release from dist/, in 32-bit Wine" if args.i686
                                        else "the x86_64 build")
    print("%s: %d passed, %d failed" % (os.path.relpath(path, os.getcwd()), n_pass, n_fail))
    return 1 if n_fail else 0


if __name__ == "__main__":
    sys.exit(main())
