#!/usr/bin/python3
"""Overhead of the program against two other Linux monitors.

Runs stelvox under Xvfb with a recorded sensor tree and four simulated display
devices for a given time and reports its CPU time (user + system) per wall second,
its peak and final resident memory, its threads and open descriptors, and the same
for the CPU-usage helper it starts. In the same run, one after the other, it
measures Debian's psensor (GTK, with its tray indicator) under the same X server and
btop in a pseudo-terminal, and prints stelvox / each. The peers read the machine's
real /sys and /proc; what they found there is printed too. Each program is measured
--repeats times, interleaved, and the median is reported.

  overhead.py [--build-dir build | --program /usr/bin/stelvox] [--seconds 120]
              [--repeats 3] [--warmup 10] [--no-peers] [--json out.json]
              [--peers-read-fixture] [--callgrind 30]

--peers-read-fixture runs the peers in a private mount namespace with the recorded
tree's sys/class over /sys/class (needs root or CAP_SYS_ADMIN), so that on a machine
without sensors they have the same chips to read as stelvox.

psensor and btop are installed on demand (apt-get) when missing and allowed.
"""
import argparse
import fcntl
import json
import os
import pty
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "soak"))

import harness  # noqa: E402
from rig import Rig, default_fixture  # noqa: E402

DEVICES = ["steady-a", "steady-b", "churn-c", "churn-d"]  # four healthy displays


def say(*args):
    print(*args, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- measuring
def measure(pid, seconds, warmup, helper_of=None):
    """Figures of a running process over `seconds` after `warmup`: CPU per wall
    second in the steady window and from the start, RSS, peak RSS, threads, fds;
    the same for its CPU-usage helper when `helper_of` finds one."""
    start_wall = time.monotonic()
    time.sleep(warmup)
    first = harness.snapshot(pid)
    t0 = time.monotonic()
    helper = helper_of() if helper_of else None
    h_first = harness.snapshot(helper) if helper else None
    peak_threads = first["threads"] if first else 0
    peak_fds = first["fds"] if first else 0
    end = t0 + seconds
    while time.monotonic() < end:
        time.sleep(min(2.0, max(0.0, end - time.monotonic())))
        row = harness.snapshot(pid)
        if row is None:
            return None
        peak_threads = max(peak_threads, row["threads"])
        peak_fds = max(peak_fds, row["fds"])
    last = harness.snapshot(pid)
    t1 = time.monotonic()
    if first is None or last is None:
        return None
    rollup = harness.memory_rollup(pid)
    out = {
        "cpu_per_s": (last["cpu"] - first["cpu"]) / (t1 - t0),
        "cpu_per_s_from_start": last["cpu"] / (t1 - start_wall),
        "rss_mib": last["rss_kb"] / 1024.0,
        "peak_rss_mib": last["hwm_kb"] / 1024.0,
        "pss_mib": rollup["pss_kb"] / 1024.0,
        "private_mib": rollup["private_kb"] / 1024.0,
        "threads": last["threads"],
        "peak_threads": peak_threads,
        "fds": last["fds"],
        "peak_fds": peak_fds,
        "wall_s": t1 - t0,
    }
    if helper and h_first:
        h_last = harness.snapshot(helper)
        if h_last:
            out["helper"] = {
                "cpu_per_s": (h_last["cpu"] - h_first["cpu"]) / (t1 - t0),
                "rss_mib": h_last["rss_kb"] / 1024.0,
                "peak_rss_mib": h_last["hwm_kb"] / 1024.0,
                "threads": h_last["threads"],
                "fds": h_last["fds"],
            }
    return out


def run_stelvox(args, display):
    rig = Rig(args.build_dir, args.fixture, seed=11, tag="overhead", ftp_modes="good", log=say)
    if args.program:
        # An installed program keeps its own library and helper beside it.
        rig.sandbox.program = os.path.abspath(args.program)
    try:
        rig.devices.set_present(DEVICES)
        env = {"QT_QPA_PLATFORM": "xcb", "DISPLAY": display}
        program = rig.start(env)
        paths = [rig.devices.path(n) for n in DEVICES]
        if not rig.wait_streaming(paths, 60):
            say("stelvox did not reach the four devices; figures would be meaningless")
            return None
        mark = rig.devices.log_size()
        helper_of = lambda: (program.helpers() or [None])[0]  # noqa: E731
        figures = measure(program.pid, args.seconds, args.warmup, helper_of)
        if figures:
            frames = rig.devices.frames_by_device(mark)
            figures["frames_per_s_per_device"] = round(
                min(frames.get(p, 0) for p in paths) / (args.seconds + args.warmup), 2)
            figures["errors_in_log"] = len(rig.error_lines())
        status = program.terminate(30)
        if figures:
            figures["exit_status"] = status
        return figures
    finally:
        rig.close()


def peer_command(args, argv):
    if not args.peers_read_fixture:
        return argv
    # unshare and sh exec in place, so the measured process id stays the peer's.
    return ["unshare", "-m", "sh", "-c", 'mount --bind "$1/sys/class" /sys/class && shift && exec "$@"',
            "sh", args.fixture] + argv


def run_psensor(args, display):
    home = tempfile.mkdtemp(prefix="overhead-psensor-")
    env = dict(os.environ, HOME=home, DISPLAY=display, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_RUNTIME_DIR=home, NO_AT_BRIDGE="1")
    env.pop("QT_QPA_PLATFORM", None)
    proc = subprocess.Popen(peer_command(args, ["psensor"]), env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return measure(proc.pid, args.seconds, args.warmup)
    finally:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        shutil.rmtree(home, ignore_errors=True)


def run_btop(args):
    home = tempfile.mkdtemp(prefix="overhead-btop-")
    pid, fd = pty.fork()
    if pid == 0:
        os.environ.update(HOME=home, TERM="xterm-256color", XDG_CONFIG_HOME=os.path.join(home, ".config"))
        argv = peer_command(args, ["btop"])
        os.execvp(argv[0], argv)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 40, 120, 0, 0))
    # Drain the terminal on a thread of our own so btop never blocks on output.
    import threading
    stop = threading.Event()

    def drain():
        while not stop.is_set():
            r, _, _ = select.select([fd], [], [], 0.5)
            if r:
                try:
                    if not os.read(fd, 65536):
                        return
                except OSError:
                    return
    t = threading.Thread(target=drain, daemon=True)
    t.start()
    try:
        return measure(pid, args.seconds, args.warmup)
    finally:
        stop.set()
        try:
            os.kill(pid, signal.SIGTERM)
            for _ in range(50):
                if os.waitpid(pid, os.WNOHANG)[0]:
                    break
                time.sleep(0.1)
            else:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
        except OSError:
            pass
        os.close(fd)
        shutil.rmtree(home, ignore_errors=True)


# ---------------------------------------------------------------- what was there to read
def machine_inputs():
    def count(path, prefix=""):
        try:
            return len([n for n in os.listdir(path) if n.startswith(prefix)])
        except OSError:
            return 0
    hwmon = []
    for n in sorted(os.listdir("/sys/class/hwmon")) if os.path.isdir("/sys/class/hwmon") else []:
        try:
            with open("/sys/class/hwmon/%s/name" % n) as f:
                hwmon.append(f.read().strip())
        except OSError:
            hwmon.append("?")
    with open("/proc/stat") as f:
        cpus = sum(1 for l in f if l.startswith("cpu") and l[3:4].isdigit())
    return {
        "hwmon_chips": hwmon,
        "drm_cards": count("/sys/class/drm", "card"),
        "processors_in_proc_stat": cpus,
        "processes": len(harness.all_pids()),
        "thermal_zones": count("/sys/class/thermal", "thermal_zone"),
        "nvml": any(os.path.exists(p) for p in ("/usr/lib/x86_64-linux-gnu/libnvidia-ml.so.1",
                                                "/usr/lib/libnvidia-ml.so.1")),
    }


def fixture_inputs(fixture):
    hw = os.path.join(fixture, "sys", "class", "hwmon")
    chips = []
    for n in sorted(os.listdir(hw)) if os.path.isdir(hw) else []:
        try:
            with open(os.path.join(hw, n, "name")) as f:
                chips.append(f.read().strip())
        except OSError:
            pass
    return {"hwmon_chips": chips, "display_devices": len(DEVICES)}


def ensure_peers():
    missing = [p for p in ("psensor", "btop") if not shutil.which(p)]
    if not missing:
        return True
    say("installing", " ".join(missing))
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    r = subprocess.run(sudo + ["apt-get", "install", "-y", "--no-install-recommends"] + missing,
                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT,
                       env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    return r.returncode == 0 and all(shutil.which(p) for p in missing)


# ---------------------------------------------------------------- report
def med(rows, key, sub=None):
    vals = [(r[sub][key] if sub else r[key]) for r in rows if r and (not sub or sub in r)]
    return statistics.median(vals) if vals else None


def callgrind(args, display):
    rig = Rig(args.build_dir, args.fixture, seed=11, tag="callgrind", ftp_modes="good", log=say)
    try:
        rig.devices.set_present(DEVICES)
        env = rig.env({"QT_QPA_PLATFORM": "xcb", "DISPLAY": display})
        out = os.path.join(os.getcwd(), "callgrind.out.stelvox")
        # Start-up (dynamic linking, GL and font set-up) would swamp the profile: count
        # only the steady state, from a warm-up on.
        proc = subprocess.Popen(["valgrind", "--tool=callgrind", "--instr-atstart=no",
                                 "--callgrind-out-file=" + out, rig.sandbox.program],
                                cwd=rig.sandbox.work, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        paths = [rig.devices.path(n) for n in DEVICES]
        if not rig.wait_streaming(paths, 180):
            say("stelvox under valgrind did not reach the devices")
        time.sleep(args.warmup)
        subprocess.run(["callgrind_control", "-i", "on", str(proc.pid)], stdout=subprocess.DEVNULL)
        time.sleep(args.callgrind)
        subprocess.run(["callgrind_control", "-i", "off", str(proc.pid)], stdout=subprocess.DEVNULL)
        proc.send_signal(signal.SIGTERM)
        proc.wait(120)
        text = subprocess.run(["callgrind_annotate", "--inclusive=no", out], capture_output=True,
                              text=True).stdout
        print("\nTop functions (callgrind, %d s, exclusive cost):" % args.callgrind)
        print("\n".join(text.splitlines()[:60]))
    finally:
        rig.close()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build-dir", default=os.path.join(SOURCE, "build"))
    ap.add_argument("--program", help="measure this stelvox (e.g. the installed one) instead of the build's")
    ap.add_argument("--fixture", default=default_fixture("amd-desktop"))
    ap.add_argument("--seconds", type=float, default=120)
    ap.add_argument("--warmup", type=float, default=10)
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--no-peers", action="store_true")
    ap.add_argument("--peers-read-fixture", action="store_true",
                    help="let psensor and btop read the recorded tree's /sys/class instead of the machine's")
    ap.add_argument("--json")
    ap.add_argument("--callgrind", type=int, default=0, help="also profile a run of this many seconds")
    args = ap.parse_args()

    peers = not args.no_peers and ensure_peers()
    if not args.no_peers and not peers:
        say("psensor or btop could not be installed: measuring stelvox alone")
    xvfb = harness.Xvfb()
    results = {"stelvox": [], "psensor": [], "btop": []}
    try:
        for i in range(args.repeats):
            say("round %d/%d: stelvox" % (i + 1, args.repeats))
            results["stelvox"].append(run_stelvox(args, xvfb.display))
            if peers:
                say("round %d/%d: psensor" % (i + 1, args.repeats))
                results["psensor"].append(run_psensor(args, xvfb.display))
                say("round %d/%d: btop" % (i + 1, args.repeats))
                results["btop"].append(run_btop(args))
        if args.callgrind:
            callgrind(args, xvfb.display)
    finally:
        xvfb.stop()

    summary = {"seconds": args.seconds, "warmup": args.warmup, "repeats": args.repeats,
               "machine_inputs": machine_inputs(), "stelvox_inputs": fixture_inputs(args.fixture),
               "runs": results}
    print("\nOverhead over %.0f s after %.0f s of warm-up, median of %d (CPU = user + system):"
          % (args.seconds, args.warmup, args.repeats))
    print("%-22s %10s %12s %10s %10s %9s %8s %6s" % ("program", "CPU s/s", "from start", "RSS MiB",
                                                    "peak MiB", "priv MiB", "threads", "fds"))
    medians = {}
    for name in ("stelvox", "psensor", "btop"):
        rows = [r for r in results[name] if r]
        if not rows:
            continue
        m = {k: med(rows, k) for k in ("cpu_per_s", "cpu_per_s_from_start", "rss_mib", "peak_rss_mib",
                                      "private_mib", "pss_mib", "threads", "fds")}
        medians[name] = m
        print("%-22s %10.5f %12.5f %10.1f %10.1f %9.1f %8d %6d" % (
            name, m["cpu_per_s"], m["cpu_per_s_from_start"], m["rss_mib"], m["peak_rss_mib"],
            m["private_mib"], m["threads"], m["fds"]))
        if name == "stelvox" and any("helper" in r for r in rows):
            h = {k: med(rows, k, "helper") for k in ("cpu_per_s", "rss_mib", "peak_rss_mib", "threads", "fds")}
            medians["stelvox-cpuload"] = h
            print("%-22s %10.5f %12s %10.1f %10.1f %9s %8d %6d" % ("  its stelvox-cpuload", h["cpu_per_s"], "",
                                                                    h["rss_mib"], h["peak_rss_mib"], "",
                                                                    h["threads"], h["fds"]))
            print("%-22s %10.5f %12s %10.1f" % ("  stelvox + helper", m["cpu_per_s"] + h["cpu_per_s"], "",
                                                 m["rss_mib"] + h["rss_mib"]))
            print("%-22s %s" % ("  frames/s per device", [r.get("frames_per_s_per_device") for r in rows]))
    summary["medians"] = medians
    if "stelvox" in medians:
        s = medians["stelvox"]
        h = medians.get("stelvox-cpuload", {"cpu_per_s": 0, "rss_mib": 0})
        for peer in ("psensor", "btop"):
            if peer not in medians:
                continue
            p = medians[peer]
            cpu = s["cpu_per_s"] + h["cpu_per_s"]
            ratio = {"cpu": cpu / p["cpu_per_s"] if p["cpu_per_s"] > 0 else None,
                     "rss": (s["rss_mib"] + h["rss_mib"]) / p["rss_mib"] if p["rss_mib"] > 0 else None,
                     "private": s["private_mib"] / p["private_mib"] if p["private_mib"] > 0 else None}
            summary["ratio_" + peer] = ratio
            print("stelvox (with helper) / %-8s CPU %s   RSS %s   private memory (without helper) %s" % (
                peer, "%.2f" % ratio["cpu"] if ratio["cpu"] is not None else "n/a (peer used no measurable CPU)",
                "%.2f" % ratio["rss"] if ratio["rss"] is not None else "n/a",
                "%.2f" % ratio["private"] if ratio["private"] is not None else "n/a"))
    mi = summary["machine_inputs"]
    print("\nWhat each read: stelvox a recorded tree (%s) and %d simulated displays;"
          % (", ".join(summary["stelvox_inputs"]["hwmon_chips"]) or "no chips", len(DEVICES)))
    if args.peers_read_fixture:
        mi = dict(mi, hwmon_chips=summary["stelvox_inputs"]["hwmon_chips"], drm_cards=0, thermal_zones=0)
    print("psensor and btop %s /proc: hwmon chips %s, %d DRM cards, %d thermal zones, "
          "%d processors, %d processes, NVML %s."
          % ("the recorded /sys/class (bind-mounted) and this machine's" if args.peers_read_fixture
             else "this machine's /sys and", mi["hwmon_chips"] or "none", mi["drm_cards"], mi["thermal_zones"],
             mi["processors_in_proc_stat"], mi["processes"], "present" if mi["nvml"] else "absent"))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(summary, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main())
