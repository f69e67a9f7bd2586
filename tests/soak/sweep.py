#!/usr/bin/python3
"""Start-up sweep: the program started again and again, each time with a different
hostile input in place before it starts (a damaged settings file, a sensor tree with
broken and missing files, an update server that stalls, floods or talks garbage).
Each start must reach the devices, keep running, write no unexplained Error line and
end cleanly on SIGTERM with its helper.

  sweep.py --build-dir build [--only NAME] [--keep]
"""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devices as devmod  # noqa: E402
import harness  # noqa: E402
import hostile  # noqa: E402
from rig import Rig, default_fixture  # noqa: E402

T0 = time.monotonic()


def say(*args):
    print("[sweep %6.1fs]" % (time.monotonic() - T0), *args, flush=True)


def hostile_values(seed):
    import random
    rnd = random.Random(seed)
    values = {k: rnd.choice(hostile.HOSTILE_NUMBERS) for k in hostile.SETTING_KEYS}
    values["startup"] = 1
    return values


# name, update server modes ("" = nothing listens), fixture, settings, sensor damage steps
CASES = [
    ("good-server", "good", "amd-desktop", "sound", 0),
    ("listing-garbage", "badlist", "intel-desktop", "values:1", 6),
    ("slow-server", "slow", "laptop", "binary", 6),
    ("stalled-server", "stall", "nvidia-desktop", "syntax", 10),
    ("server-hangs-up", "close", "empty", "long", 0),
    ("garbage-server", "garbage", "amd-desktop", "directory", 12),
    ("flooding-server", "flood", "intel-desktop", "empty", 12),
    ("passive-nowhere", "badpasv", "laptop", "values:2", 20),
    ("endless-greeting", "multiline", "amd-desktop", "values:3", 20),
    ("chattering-server", "chatter", "amd-desktop", "sound", 0),
    ("endless-reply", "endless", "laptop", "sound", 0),
    ("endless-listing", "biglist", "amd-desktop", "sound", 0),
    ("no-server", "", "amd-desktop", "reminder-due", 30),
    ("prompt-then-quit", "good", "amd-desktop", "reminder-due", 0),
    # Killed outright: the helper must follow, and the next start must take over the
    # single-instance name the dead one left behind.
    ("killed-restarted", "good", "intel-desktop", "sound", 4),
]


def prepare_settings(settings, kind):
    if kind == "sound":
        settings.sound()
    elif kind.startswith("values:"):
        settings.write_values(hostile_values(int(kind.split(":")[1])))
    elif kind == "binary":
        settings._put(bytes((i * 37 + 11) % 256 for i in range(3000)))
    elif kind == "syntax":
        settings._put("[General\nchange interval\n=\n[[]]\n%=%\nlanguage=1\x00\n[General]\n"
                      "startup=1\ntemperature%20unit=\\\n")
    elif kind == "long":
        settings._put("[General]\nstartup=1\nupgrade%20version=" + "V9." * 20000 + "\n")
    elif kind == "directory":
        os.remove(settings.path)
        os.mkdir(settings.path)
    elif kind == "empty":
        settings._put("")
    elif kind == "reminder-due":
        # A reminder long overdue: the check that finds a release prompts at once.
        settings.write_values({"startup": 1, "next upgrade time": 1000, "upgrade version": "V1.0.0.28"})
    else:
        raise ValueError(kind)


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def run_case(args, name, modes, fixture, settings_kind, damage):
    failures = []
    rig = Rig(args.build_dir, default_fixture(fixture), seed=len(name), tag="sweep", keep=args.keep,
              ftp_modes=modes, flood_rate=1024 * 1024, log=say)
    try:
        prepare_settings(rig.settings, settings_kind)
        for _ in range(damage):
            rig.sensors.step()
        rig.devices.set_present(["churn-c", "reject-e", "badreport-k", "noserial-m"])
        asan = "libasan" in rig.preload()
        program = rig.start()
        limit = 120 if asan else 60
        if not rig.wait_streaming(rig.steady_paths() + [rig.devices.path("churn-c")], limit):
            failures.append("no frames to the devices within %d s" % limit)
        elif modes and modes.split(",")[0] in ("good", "badlist", "close", "badpasv", "garbage"):
            # These conversations end quickly: let the check finish before quitting.
            harness.wait_for(lambda: any(e.endswith((" done", " listed")) or "peer-gone" in e
                                         for e in rig.ftp_events())
                             or "FtpManager::onCmdFinished" in rig.sandbox.log_text(), 10)
        if modes and not harness.wait_for(lambda: any(" accepted" in e for e in rig.ftp_events()), 5):
            failures.append("the update check never reached the test server")
        if name == "killed-restarted" and program.alive():
            program.kill()
            if harness.wait_for(lambda: not harness.pids_with_exe(rig.sandbox.helper), 10) is not True:
                failures.append("the CPU-usage helper outlived the killed program")
            mark = rig.devices.log_size()
            program = rig.start()
            if not rig.wait_streaming(rig.steady_paths(), limit, offset=mark):
                failures.append("a start after a killed instance reached no device within %d s" % limit)
        if modes in ("flood", "chatter", "endless", "biglist") and program.alive():
            # A server that never stops talking must not make the program grow.
            before = harness.snapshot(program.pid)
            time.sleep(5)
            after = harness.snapshot(program.pid)
            if before and after and after["rss_kb"] - before["rss_kb"] > (24 if asan else 6) * 1024:
                failures.append("resident memory grew from %d to %d MiB in 5 s"
                                % (before["rss_kb"] // 1024, after["rss_kb"] // 1024))
        # A little more running time with the update check in whatever state it is.
        harness.wait_for(lambda: not program.alive(), 2.0)
        if not program.alive():
            failures.append("ended by itself with status %s" % program.proc.returncode)
        if name == "prompt-then-quit":
            # The check found V1.0.0.28 with the reminder overdue: it drew a new reminder
            # time and put the prompt up; the quit below comes while the prompt is open.
            harness.wait_for(lambda: "next%20upgrade%20time=1000" not in read_text(rig.settings.path), 10)
            if "next%20upgrade%20time=1000" in read_text(rig.settings.path):
                failures.append("the overdue reminder was not acted on")
        forced = name == "prompt-then-quit" and program.alive()
        if forced:
            # An impatient user asks twice while the prompt is open. The second request
            # forces the end, so the program may die of it while it shuts down.
            program.proc.send_signal(15)
            time.sleep(0.05)
        status = program.terminate(timeout=30)
        if status is None:
            failures.append("SIGTERM did not end it within 30 s")
        elif status != 0 and not (forced and status == -15):
            failures.append("ended with status %s on SIGTERM" % status)
        leaked = harness.wait_for(lambda: not harness.pids_with_exe(rig.sandbox.helper), 10) is not True \
            and harness.pids_with_exe(rig.sandbox.helper)
        if leaked:
            failures.append("CPU-usage helper left running: %s" % leaked)
            for p in leaked:
                os.kill(p, 9)
        allowed = [rig.devices.path(n) for n in devmod.FAILING]
        unexpected = rig.unexpected_errors(allowed)
        if unexpected:
            failures.append("unexpected Error lines: %s" % sorted(set(
                "%s: %s" % (f, m.splitlines()[0] if m else "") for f, m in unexpected))[:5])
        # A server must not be able to fill the disk through the log: the devices here
        # add a few lines a second, anything beyond is the server's doing.
        log_bytes = len(rig.sandbox.log_text().encode("utf-8"))
        if log_bytes > 1024 * 1024:
            failures.append("the log grew to %.1f MiB" % (log_bytes / 1048576.0))
        if rig.sandbox.crash_dumps():
            failures.append("crash dumps: %s" % rig.sandbox.crash_dumps())
        reports = rig.sanitizer_reports()
        if reports:
            failures.append("sanitizer reports: %s" % reports[:5])
        if failures and args.keep:
            failures.append("sandbox kept at %s" % rig.sandbox.root)
    finally:
        rig.close()
    return failures


def early_quits(args):
    """SIGTERM at any moment of the start-up ends the program (before its handler is
    in place the default action does) and never leaves its helper behind."""
    failures = []
    rig = Rig(args.build_dir, default_fixture(), seed=5, tag="sweep", keep=args.keep, ftp_modes="good", log=say)
    try:
        for delay in (0.0, 0.03, 0.1, 0.2, 0.4, 0.8, 1.5):
            program = rig.start()
            time.sleep(delay)
            status = program.terminate(timeout=30)
            if status not in (0, -15):
                failures.append("SIGTERM %.2f s after the start: status %s" % (delay, status))
            if harness.wait_for(lambda: not harness.pids_with_exe(rig.sandbox.helper), 10) is not True:
                failures.append("SIGTERM %.2f s after the start left the helper running" % delay)
                for p in harness.pids_with_exe(rig.sandbox.helper):
                    os.kill(p, 9)
        if rig.sandbox.crash_dumps():
            failures.append("crash dumps: %s" % rig.sandbox.crash_dumps())
    finally:
        rig.close()
    return failures


def x11_without_gl(args):
    """On X11 the program draws plain widgets: it must not load an OpenGL driver, which
    costs tens of MiB of resident memory for nothing."""
    import shutil
    if not shutil.which("Xvfb"):
        return []
    failures = []
    xvfb = harness.Xvfb()
    rig = Rig(args.build_dir, default_fixture(), seed=6, tag="sweep", keep=args.keep, ftp_modes="good", log=say)
    try:
        # Leaks of the X11 libraries are not the program's; the other cases check leaks.
        asan = rig.env()["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
        program = rig.start({"QT_QPA_PLATFORM": "xcb", "DISPLAY": xvfb.display, "ASAN_OPTIONS": asan})
        if not rig.wait_streaming(rig.steady_paths(), 120):
            failures.append("no frames to the devices under X11")
        drivers = set()
        try:
            with open("/proc/%d/maps" % program.pid) as f:
                for line in f:
                    name = os.path.basename(line.split()[-1]) if "/" in line else ""
                    if name.endswith("_dri.so") or name.startswith(("libLLVM", "libGLX_mesa", "libGLX_nvidia")):
                        drivers.add(name)
        except OSError:
            pass
        if drivers:
            failures.append("OpenGL driver libraries loaded: %s" % sorted(drivers))
        status = program.terminate(timeout=30)
        if status != 0:
            failures.append("ended with status %s on SIGTERM" % status)
    finally:
        rig.close()
        xvfb.stop()
    return failures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--only", help="run only the named case")
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()
    failed = {}
    for case in CASES:
        if args.only and case[0] != args.only:
            continue
        start = time.monotonic()
        failures = run_case(args, *case)
        say("%-18s %s (%.1f s)" % (case[0], "ok" if not failures else "FAILED", time.monotonic() - start))
        for f in failures:
            say("    -", f)
        if failures:
            failed[case[0]] = failures
    for name, check in (("early-quits", early_quits), ("x11-without-gl", x11_without_gl)):
        if args.only and args.only != name:
            continue
        start = time.monotonic()
        failures = check(args)
        say("%-18s %s (%.1f s)" % (name, "ok" if not failures else "FAILED", time.monotonic() - start))
        for f in failures:
            say("    -", f)
        if failures:
            failed[name] = failures
    if failed:
        print("SWEEP FAILED: %s" % ", ".join(sorted(failed)))
        return 1
    print("SWEEP PASSED")
    return 0


if __name__ == "__main__":
    sys.exit(main())
