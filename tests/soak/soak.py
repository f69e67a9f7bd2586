#!/usr/bin/python3
"""Soak: the real program for a long time under churn and hostile input.

While it runs, simulated display devices arrive and leave every few seconds (some of
them refuse frames, never answer, fail to open, or vanish while a frame waits), the
sensor tree changes and loses files, the settings file is changed and damaged from
outside, the update server answers badly, the CPU-usage helper is killed from
outside now and then, and second instances are started. At the end it checks that
the program still runs and streams to every present device, that resident memory,
descriptors and threads stayed within a small bound after warm-up, that no helper
process leaked, that the log holds no unexplained Error line, and that SIGTERM ends
the program cleanly.

  soak.py --build-dir build [--seconds 60] [--keep] [--report out.json]
The length also comes from SOAK_SECONDS when --seconds is not given.
"""
import argparse
import json
import os
import signal
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import devices as devmod  # noqa: E402
import harness  # noqa: E402
from rig import Rig, default_fixture  # noqa: E402

MIB = 1024


def say(*args):
    print("[soak %7.1fs]" % (time.monotonic() - T0), *args, flush=True)


T0 = time.monotonic()


def median(values):
    return statistics.median(values) if values else 0


class Sampler:
    """Figures of the program every couple of seconds."""

    def __init__(self, program):
        self.program = program
        self.rows = []
        self.max_helpers = 0
        self.helper_pids = set()

    def take(self):
        row = harness.snapshot(self.program.pid)
        if row is None:
            return None
        row["t"] = time.monotonic() - self.program.started
        helpers = self.program.helpers()
        self.helper_pids.update(helpers)
        row["helpers"] = len(helpers)
        self.max_helpers = max(self.max_helpers, len(helpers))
        self.rows.append(row)
        return row

    def window(self, start, end):
        return [r for r in self.rows if start <= r["t"] <= end]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--seconds", type=float, default=float(os.environ.get("SOAK_SECONDS", "60")))
    ap.add_argument("--fixture", default=default_fixture("amd-desktop"))
    ap.add_argument("--seed", type=int, default=int(os.environ.get("SOAK_SEED", "1")))
    ap.add_argument("--ftp-mode", default="flood",
                    help="behaviour of the update server for the one check the run makes")
    ap.add_argument("--xvfb", action="store_true",
                    help="run on a private X server (as on a desktop) instead of Qt's offscreen platform")
    ap.add_argument("--keep", action="store_true", help="keep the sandbox folder for inspection")
    ap.add_argument("--report", help="write the figures as JSON here")
    args = ap.parse_args()

    seconds = max(30.0, args.seconds)
    rig = Rig(args.build_dir, args.fixture, seed=args.seed, tag="soak", keep=args.keep,
              ftp_modes=args.ftp_mode, log=say)
    failures = []
    report = {"seconds": seconds}
    xvfb = harness.Xvfb() if args.xvfb else None
    try:
        failures = run(rig, seconds, report, xvfb)
    finally:
        if args.keep:
            say("sandbox kept at", rig.sandbox.root)
        rig.close()
        if xvfb:
            xvfb.stop()
    report["failures"] = failures
    if args.report:
        with open(args.report, "w") as f:
            json.dump(report, f, indent=2)
    if failures:
        print("SOAK FAILED:")
        for f in failures:
            print("  -", f)
        return 1
    print("SOAK PASSED")
    return 0


def run(rig, seconds, report, xvfb):
    failures = []
    asan = rig.preload().count("libasan") > 0
    devices = rig.devices
    display = {"QT_QPA_PLATFORM": "xcb", "DISPLAY": xvfb.display} if xvfb else None
    program = rig.start(display)
    say("program pid", program.pid, "sandbox", rig.sandbox.root, "(sanitizers)" if asan else "")
    sampler = Sampler(program)

    startup_limit = 120 if asan else 60
    if not rig.wait_streaming(rig.steady_paths(), startup_limit):
        failures.append("no frame reached the steady devices within %d s of the start" % startup_limit)
        return finish(rig, sampler, failures, report, seconds)
    say("streaming to the steady devices after %.1f s" % (time.monotonic() - program.started))

    # Warm-up: the first fifth of the run, at least 15 s, before the baseline is taken.
    churn_end = seconds * 0.85
    warmup = max(15.0, seconds * 0.2)
    next_device = next_sensor = next_settings = next_sample = next_second = next_helper_kill = 0.0
    next_vanish = 5.0
    next_helper_look = 0.0
    vanish_tries = vanished = 0
    churned = set()
    second_starts = []
    helper_kills = 0
    while program.alive():
        now = time.monotonic() - program.started
        if now >= churn_end:
            break
        if now >= next_sample:
            sampler.take()
            next_sample = now + 2.0
        elif now >= next_helper_look:
            sampler.helper_pids.update(program.helpers())
            next_helper_look = now + 0.5
        if now >= next_device:
            what = devices.step()
            churned.update(n for n in devmod.CHURN.keys() | devmod.FAILING.keys() if n in devices.present)
            next_device = now + rig.devices.rnd.uniform(1.0, 4.0)
        if now >= next_sensor:
            rig.sensors.step()
            mutate_msr(rig)
            next_sensor = now + 0.7
        if now >= next_vanish:
            vanish_tries += 1
            if devices.vanish_mid_frame("slow-n"):
                vanished += 1
            next_vanish = now + 10.0
        if now >= next_settings:
            rig.settings.step()
            next_settings = now + 5.0
        if now >= next_helper_kill and now > warmup / 2:
            helpers = program.helpers()
            if helpers:
                os.kill(helpers[0], signal.SIGKILL)
                helper_kills += 1
            next_helper_kill = now + 25.0
        if now >= next_second and now > 10:
            second_starts.append(second_instance(rig, display))
            next_second = now + 30.0
        time.sleep(0.1)

    if not program.alive():
        failures.append("the program ended during the soak (status %s)" % program.proc.returncode)
        return finish(rig, sampler, failures, report, seconds)

    # Final phase: a known set of devices, a healed tree, a sound settings file.
    say("churn over: %d device events, sensor changes %s, settings changes %s, helper kills %d"
        % (devices.events, rig.sensors.counts, rig.settings.counts, helper_kills))
    rig.sensors.heal()
    for n in range(rig.processors):
        os.makedirs(os.path.join(rig.dev_root, "cpu", str(n)), exist_ok=True)
    rig.settings.sound()
    final = ["steady-a", "steady-b", "churn-c", "reject-e", "mute-f"]
    devices.set_present(final)
    # Hot-plug polling takes two seconds, a silent device costs half a second per pass.
    settle = 8.0
    time.sleep(settle)
    mark = devices.log_size()
    mark_time = time.monotonic()
    while time.monotonic() - program.started < seconds:
        sampler.take()
        time.sleep(2.0)
    window = max(6.0, time.monotonic() - mark_time)
    time.sleep(max(0.0, 6.0 - (time.monotonic() - mark_time)))
    sampler.take()
    counts = devices.frames_by_device(mark)
    report["final_frames"] = counts
    report["final_window_s"] = round(window, 1)
    for name in final:
        path = devices.path(name)
        if counts.get(path, 0) < 2:
            failures.append("device %s got %d frames in the last %.0f s" % (name, counts.get(path, 0), window))
    for name in set(devmod.CHURN) | set(devmod.FAILING):
        if name not in final and counts.get(devices.path(name), 0):
            failures.append("device %s got frames after it left" % name)
    # Over the whole run, whatever the sensors said: a usage figure is a percentage and a
    # device of this product ID is only ever told to show the CPU temperature or nothing.
    odd = set()
    for _, path, event, fields in devices.read_log():
        if event == "frame":
            f = devices.frame_fields(fields)
            if not 0 <= int(f.get("cpu_usage", 0)) <= 100 or f.get("item") not in ("0x00", "0x01"):
                odd.add(fields.split(" raw=")[0])
    if odd:
        failures.append("frames with impossible content: %s" % sorted(odd)[:5])
    if not program.alive():
        failures.append("the program ended during the final phase (status %s)" % program.proc.returncode)
    sample_check(sampler, failures, report, seconds, warmup, asan)
    if sampler.max_helpers > 1:
        failures.append("%d CPU-usage helpers ran at once" % sampler.max_helpers)
    # Every helper after the first should be the answer to one we killed.
    report["helper_starts"] = len(sampler.helper_pids)
    if len(sampler.helper_pids) > helper_kills + 2:
        failures.append("the CPU-usage helper was started %d times for %d kills: it ends by itself"
                        % (len(sampler.helper_pids), helper_kills))
    if helper_kills and not program.helpers():
        failures.append("the CPU-usage helper was not started again after it was killed")
    bad_seconds = [s for s in second_starts if s != 0]
    if bad_seconds:
        failures.append("second instances ended with %s (0 expected)" % bad_seconds)
    report["second_instances"] = len(second_starts)
    report["device_events"] = devices.events
    report["sensor_changes"] = rig.sensors.counts
    report["settings_changes"] = rig.settings.counts
    report["helper_kills"] = helper_kills
    report["vanished_mid_frame"] = "%d of %d tries (%d reads failed on departure)" % (
        vanished, vanish_tries,
        sum(1 for e in devices.read_log() if e[2] == "read-fail" and "departed" in e[3]))
    report["ftp"] = rig.ftp_events()[:20]
    if not any(" accepted" in e for e in report["ftp"]):
        failures.append("the update check never reached the test server")
    return finish(rig, sampler, failures, report, seconds, churned)


def mutate_msr(rig):
    """The processor register files change in place (the program keeps them open);
    now and then one reads short."""
    rnd = rig.sensors.rnd
    n = rnd.randrange(rig.processors)
    path = os.path.join(rig.dev_root, "cpu", str(n), "msr")
    if not os.path.exists(path):
        return
    roll = rnd.random()
    from rig import write_msr
    if roll < 0.8:
        write_msr(path, rnd.randrange(0, 128), valid=rnd.random() < 0.9)
    else:
        os.truncate(path, rnd.choice([0, 0x19C, 0x1A0]))
        write_msr(path, 50) if rnd.random() < 0.5 else None


def second_instance(rig, display):
    """A second start must hand over to the running instance and end with 0 at once."""
    env = rig.env(display)
    try:
        r = subprocess.run([rig.sandbox.program], cwd=rig.sandbox.work, env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        return r.returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def sample_check(sampler, failures, report, seconds, warmup, asan):
    rows = sampler.rows
    if len(rows) < 4:
        failures.append("too few samples of the program's figures")
        return
    base = [r for r in rows if warmup <= r["t"] <= warmup + max(10.0, seconds * 0.1)] or rows[len(rows) // 3:][:3]
    end = rows[-3:]
    b = {k: median([r[k] for r in base]) for k in ("rss_kb", "fds", "threads")}
    e = {k: median([r[k] for r in end]) for k in ("rss_kb", "fds", "threads")}
    cpu_rate = lambda rs: (rs[-1]["cpu"] - rs[0]["cpu"]) / max(1e-6, rs[-1]["t"] - rs[0]["t"])
    report["start"] = dict(b, t=round(base[0]["t"], 1), cpu_per_s=round(cpu_rate(base), 4) if len(base) > 1 else None)
    report["end"] = dict(e, t=round(end[-1]["t"], 1), cpu_per_s=round(cpu_rate(end), 4),
                         hwm_kb=rows[-1]["hwm_kb"])
    report["peak"] = {k: max(r[k] for r in rows) for k in ("rss_kb", "fds", "threads")}
    step = max(1, len(rows) // 30)
    report["series"] = [{"t": round(r["t"]), "rss_kb": r["rss_kb"], "fds": r["fds"], "threads": r["threads"],
                         "cpu_s": round(r["cpu"], 2), "helpers": r["helpers"]} for r in rows[::step]]
    say("after warm-up: RSS %.1f MiB, fds %d, threads %d" % (b["rss_kb"] / MIB, b["fds"], b["threads"]))
    say("at the end:    RSS %.1f MiB, fds %d, threads %d, peak RSS %.1f MiB"
        % (e["rss_kb"] / MIB, e["fds"], e["threads"], rows[-1]["hwm_kb"] / MIB))
    # Memory: a few MiB for allocator slack, more under the sanitizers' quarantine.
    rss_bound = max(8 * MIB if not asan else 64 * MIB, b["rss_kb"] * (0.10 if not asan else 0.5))
    if e["rss_kb"] - b["rss_kb"] > rss_bound:
        failures.append("resident memory grew from %.1f to %.1f MiB after warm-up"
                        % (b["rss_kb"] / MIB, e["rss_kb"] / MIB))
    if e["fds"] - b["fds"] > 3:
        failures.append("open descriptors grew from %d to %d" % (b["fds"], e["fds"]))
    if e["threads"] - b["threads"] > 2:
        failures.append("threads grew from %d to %d" % (b["threads"], e["threads"]))


def finish(rig, sampler, failures, report, seconds, churned=()):
    program = rig.program
    # Clean quit: SIGTERM ends the program with status 0, its helper with it.
    helpers_before = program.helpers() if program.alive() else []
    fds_at_end = harness.fd_targets(program.pid) if program.alive() else []
    status = program.terminate(timeout=30)
    report["exit_status"] = status
    if status is None:
        failures.append("SIGTERM did not end the program within 30 s")
    elif status != 0:
        failures.append("the program ended with status %s on SIGTERM (0 expected)" % status)
    leaked = harness.wait_for(lambda: not harness.pids_with_exe(rig.sandbox.helper), 10) is not True \
        and harness.pids_with_exe(rig.sandbox.helper)
    if leaked:
        failures.append("CPU-usage helpers still running after the quit: %s" % leaked)
        for p in leaked:
            os.kill(p, signal.SIGKILL)
    report["helpers_before_quit"] = len(helpers_before)
    allowed = [rig.devices.path(n) for n in set(devmod.CHURN) | set(devmod.FAILING)]
    unexpected = rig.unexpected_errors(allowed)
    report["error_lines"] = len(rig.error_lines())
    if unexpected:
        shown = sorted(set("%s: %s" % (f, m.splitlines()[0] if m else "") for f, m in unexpected))[:10]
        failures.append("%d unexpected Error lines in the log, e.g.\n      %s"
                        % (len(unexpected), "\n      ".join(shown)))
    # Failing devices are logged on every pass, as designed; nothing else may flood the log.
    other = [e for e in rig.log_entries() if e[1] != "SendHIDDataThread::sendDataToHIDDevice"]
    other_bytes = sum(len(e[2]) + 40 for e in other)
    report["log_lines"] = len(rig.log_entries())
    report["log_bytes_not_device_failures"] = other_bytes
    if other_bytes > 2 * 1024 * 1024:
        failures.append("%d log lines (%.1f MiB) besides the device failures" % (len(other), other_bytes / 1048576.0))
    dumps = rig.sandbox.crash_dumps()
    if dumps:
        failures.append("crash dumps written: %s" % dumps)
    reports = rig.sanitizer_reports()
    if reports:
        failures.append("sanitizer reports: %s" % reports[:5])
    if failures and fds_at_end:
        report["fds_at_end"] = fds_at_end
    say("report:", json.dumps({k: report[k] for k in report if k not in ("ftp", "fds_at_end", "series")}))
    return failures


if __name__ == "__main__":
    sys.exit(main())
