#!/usr/bin/python3
"""Overhead of the program against two other Linux monitors.

Runs stelvox under Xvfb with a recorded sensor tree and four simulated display
devices for a given time and reports, for it and for the CPU-usage helper it starts:
CPU time (user + system, from the scheduler's nanosecond counters) per wall second,
wake-ups (voluntary context switches) per second in all and per thread, resident,
peak and private memory, threads and open descriptors. The display simulator runs
inside the program's process; unless --devsim-log, it only counts frames, so that
what is measured is the program's own work. In the same run, one after the other, it
measures Debian's psensor (GTK, with its tray indicator) under the same X server and
btop in a pseudo-terminal, and prints stelvox / each. The peers read the machine's
real /sys and /proc; what they found there is printed too. Each program is measured
--repeats times, interleaved, and the median is reported.

  overhead.py [--build-dir build | --program /usr/bin/stelvox] [--seconds 120]
              [--repeats 3] [--warmup 10] [--no-peers] [--json out.json]
              [--peers-read-fixture] [--callgrind 30] [--displays 0-4] [--tray]
              [--devsim-log] [--hotplug poll] [--floor]

--peers-read-fixture runs the peers in a private mount namespace with the recorded
tree's sys/class over /sys/class (needs root or CAP_SYS_ADMIN), so that on a machine
without sensors they have the same chips to read as stelvox.

--tray gives the X display a notification area: the program then keeps to its icon
with the window closed, as on most desktops; without it the window stays open.

--floor also runs, after each round of stelvox, threads that do nothing but wake at the
rates each of its threads (and the helper) was measured to wake at: the price of those
wake-ups alone on this machine, under which no program that wakes as often can go.

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
def threads_of(pid):
    """Every thread of a process: tid -> [name, CPU ns, wake-ups, preemptions]. The scheduler's
    nanosecond counter is read because the tick-based times in /proc/PID/stat are too coarse
    for a program that runs a few milliseconds a minute. None when the process is gone."""
    base = "/proc/%d/task" % pid
    try:
        tids = os.listdir(base)
    except OSError:
        return None
    out = {}
    for tid in tids:
        try:
            with open("%s/%s/schedstat" % (base, tid)) as f:
                ns = int(f.read().split()[0])
            with open("%s/%s/comm" % (base, tid)) as f:
                name = f.read().strip()
            # A thread that sleeps and is woken switches voluntarily; an involuntary switch is
            # a preemption, which says more about the machine's other load than about us.
            switches = {}
            with open("%s/%s/status" % (base, tid)) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
                        switches[line[0]] = int(line.split()[1])
        except (OSError, ValueError, IndexError):
            continue
        out[int(tid)] = [name, ns, switches.get("v", 0), switches.get("n", 0)]
    return out


class ThreadWatch:
    """CPU and wake-ups of a process's threads between two points in time, counting
    threads that start in between whole and those that end up to their last sighting."""

    def __init__(self, pid):
        self.pid = pid
        self.first = threads_of(pid) or {}
        self.latest = {tid: list(row) for tid, row in self.first.items()}

    def poll(self):
        rows = threads_of(self.pid)
        if rows is None:
            return False
        for tid, row in rows.items():
            self.latest[tid] = row
        return True

    def figures(self, wall):
        """(CPU seconds per second, wake-ups per second, preemptions per second, per-thread
        rows by name)."""
        by_name = {}
        cpu_ns = wakeups = preempted = 0
        for tid, (name, ns, woken, pre) in self.latest.items():
            base = self.first.get(tid, [name, 0, 0, 0])
            d_ns, d_woken, d_pre = ns - base[1], woken - base[2], pre - base[3]
            cpu_ns += d_ns
            wakeups += d_woken
            preempted += d_pre
            row = by_name.setdefault(name, {"threads": 0, "cpu_per_s": 0.0, "wakeups_per_s": 0.0,
                                            "preempted_per_s": 0.0})
            row["threads"] += 1
            row["cpu_per_s"] += d_ns / 1e9 / wall
            row["wakeups_per_s"] += d_woken / wall
            row["preempted_per_s"] += d_pre / wall
        return cpu_ns / 1e9 / wall, wakeups / wall, preempted / wall, by_name


def measure(pid, seconds, warmup, helper_of=None):
    """Figures of a running process over `seconds` after `warmup`: CPU per wall second in
    the steady window (scheduler's counters) and from the start, wake-ups (context
    switches) per second in all and per thread, RSS, peak RSS, private memory, threads,
    fds; the same for its CPU-usage helper when `helper_of` finds one."""
    start_wall = time.monotonic()
    time.sleep(warmup)
    first = harness.snapshot(pid)
    watch = ThreadWatch(pid)
    t0 = time.monotonic()
    helper = helper_of() if helper_of else None
    h_watch = ThreadWatch(helper) if helper else None
    peak_threads = first["threads"] if first else 0
    peak_fds = first["fds"] if first else 0
    end = t0 + seconds
    while time.monotonic() < end:
        time.sleep(min(2.0, max(0.0, end - time.monotonic())))
        row = harness.snapshot(pid)
        if row is None or not watch.poll():
            return None
        if h_watch:
            h_watch.poll()
        peak_threads = max(peak_threads, row["threads"])
        peak_fds = max(peak_fds, row["fds"])
    last = harness.snapshot(pid)
    t1 = time.monotonic()
    if first is None or last is None:
        return None
    rollup = harness.memory_rollup(pid)
    cpu, wakeups, preempted, per_thread = watch.figures(t1 - t0)
    out = {
        "cpu_per_s": cpu,
        "wakeups_per_s": wakeups,
        "preempted_per_s": preempted,
        "per_thread": per_thread,
        "cpu_per_s_from_start": last["cpu"] / (t1 - start_wall),
        "rss_mib": last["rss_kb"] / 1024.0,
        "peak_rss_mib": last["hwm_kb"] / 1024.0,
        "pss_mib": rollup["pss_kb"] / 1024.0,
        "private_mib": rollup["private_kb"] / 1024.0,
        "dirty_mib": rollup["private_dirty_kb"] / 1024.0,
        "threads": last["threads"],
        "peak_threads": peak_threads,
        "fds": last["fds"],
        "peak_fds": peak_fds,
        "wall_s": t1 - t0,
    }
    if helper and h_watch:
        h_last = harness.snapshot(helper)
        if h_last:
            h_cpu, h_wakeups, h_preempted, h_per_thread = h_watch.figures(t1 - t0)
            h_rollup = harness.memory_rollup(helper)
            out["helper"] = {
                "cpu_per_s": h_cpu,
                "wakeups_per_s": h_wakeups,
                "preempted_per_s": h_preempted,
                "per_thread": h_per_thread,
                "rss_mib": h_last["rss_kb"] / 1024.0,
                "peak_rss_mib": h_last["hwm_kb"] / 1024.0,
                "private_mib": h_rollup["private_kb"] / 1024.0,
                "dirty_mib": h_rollup["private_dirty_kb"] / 1024.0,
                "threads": h_last["threads"],
                "fds": h_last["fds"],
            }
    return out


def frame_rate(rig, paths, mark, seconds, counted):
    """Frames a second the slowest display took. With the simulator counting rather than
    logging frames, each handle's close line carries its count, and the first frame's line
    the start of the span."""
    if not counted:
        frames = rig.devices.frames_by_device(mark)
        return round(min(frames.get(p, 0) for p in paths) / seconds, 2)
    first, last, count = {}, {}, {}
    for ms, path, event, fields in rig.devices.read_log(0):
        if event == "frame":
            first.setdefault(path, ms)
        elif event == "close":
            n = rig.devices.frame_fields(fields).get("frames")
            if n and n.isdigit():
                count[path] = count.get(path, 0) + int(n)
                last[path] = ms
    rates = [(count[p] - 1) * 1000.0 / (last[p] - first[p]) if p in count and last[p] > first[p] else 0.0
             for p in paths]
    return round(min(rates), 2)


class NotificationArea:
    """The X notification area's selection, held as a tray host holds it: the program then
    finds an area at start and keeps to its icon with the window closed, as on a desktop.
    Nothing is embedded; the program only needs to see an owner."""

    def __init__(self, display):
        import ctypes
        import ctypes.util
        c = ctypes
        x = c.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x.XOpenDisplay.restype = c.c_void_p
        x.XOpenDisplay.argtypes = [c.c_char_p]
        x.XDefaultRootWindow.restype = c.c_ulong
        x.XDefaultRootWindow.argtypes = [c.c_void_p]
        x.XCreateSimpleWindow.restype = c.c_ulong
        x.XCreateSimpleWindow.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_int, c.c_uint, c.c_uint,
                                          c.c_uint, c.c_ulong, c.c_ulong]
        x.XInternAtom.restype = c.c_ulong
        x.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
        x.XSetSelectionOwner.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong, c.c_ulong]
        x.XSendEvent.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_long, c.c_void_p]
        x.XFlush.argtypes = [c.c_void_p]
        x.XCloseDisplay.argtypes = [c.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError("cannot open X display %s" % display)
        root = x.XDefaultRootWindow(self.dpy)
        owner = x.XCreateSimpleWindow(self.dpy, root, 0, 0, 1, 1, 0, 0, 0)
        selection = x.XInternAtom(self.dpy, b"_NET_SYSTEM_TRAY_S0", 0)
        x.XSetSelectionOwner(self.dpy, selection, owner, 0)

        class ClientMessage(c.Structure):
            _fields_ = [("type", c.c_int), ("serial", c.c_ulong), ("send_event", c.c_int),
                        ("display", c.c_void_p), ("window", c.c_ulong), ("message_type", c.c_ulong),
                        ("format", c.c_int), ("data", c.c_long * 5)]
        event = ClientMessage(type=33, window=root, message_type=x.XInternAtom(self.dpy, b"MANAGER", 0),
                              format=32)
        event.data[1], event.data[2] = selection, owner
        x.XSendEvent(self.dpy, root, 0, 1 << 17, c.byref(event))  # StructureNotifyMask
        x.XFlush(self.dpy)

    def close(self):
        if self.dpy:
            self.x.XCloseDisplay(self.dpy)
            self.dpy = None


def run_stelvox(args, display):
    rig = Rig(args.build_dir, args.fixture, seed=11, tag="overhead", ftp_modes="good", log=say)
    if args.program:
        # An installed program keeps its own library and helper beside it.
        rig.sandbox.program = os.path.abspath(args.program)
    try:
        names = DEVICES[:args.displays]
        rig.devices.present = set(names)
        rig.devices.write()
        # The displays stay for the whole run and the start-up scan finds them, so the
        # program may listen for hot-plug as installed; the rig's default polls.
        env = {"QT_QPA_PLATFORM": "xcb", "DISPLAY": display, "STELVOX_HOTPLUG": args.hotplug}
        if not args.devsim_log:
            # The simulator runs inside the program: it only counts frames, so that what is
            # measured is the program's own work.
            env["STELVOX_DEVSIM_FRAMES"] = "count"
        program = rig.start(env)
        paths = [rig.devices.path(n) for n in names]
        if paths and not rig.wait_streaming(paths, 60):
            say("stelvox did not reach the %d devices; figures would be meaningless" % len(paths))
            return None
        if not harness.wait_for(lambda: program.helpers() or not program.alive(), 60):
            say("stelvox did not start its helper")
        mark = rig.devices.log_size()
        helper_of = lambda: (program.helpers() or [None])[0]  # noqa: E731
        figures = measure(program.pid, args.seconds, args.warmup, helper_of)
        status = program.terminate(30)
        if figures:
            if paths:
                figures["frames_per_s_per_device"] = frame_rate(rig, paths, mark, args.seconds + args.warmup,
                                                                not args.devsim_log)
            figures["errors_in_log"] = len(rig.error_lines())
            figures["exit_status"] = status
        return figures
    finally:
        rig.close()


def wake_rates(figures, displays):
    """One rate per thread of stelvox and its helper that woke: the display links'
    wake-ups shared evenly among the displays, every other thread by name."""
    rates = []
    for name, row in figures.get("per_thread", {}).items():
        if name.startswith("SendHIDData") and displays:
            rates += [row["wakeups_per_s"] / displays] * displays
        elif row["wakeups_per_s"] > 0.05:
            rates.append(row["wakeups_per_s"])
    helper = figures.get("helper")
    if helper and helper["wakeups_per_s"] > 0.05:
        rates.append(helper["wakeups_per_s"])
    return rates


def run_floor(args, rates):
    program = os.path.join(args.build_dir, "bench", "stelvox-wakefloor")
    if not rates or not os.access(program, os.X_OK):
        return None
    proc = subprocess.Popen([program] + ["%.3f" % r for r in rates])
    try:
        return measure(proc.pid, args.seconds, args.warmup)
    finally:
        proc.kill()
        proc.wait()


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
    return {"hwmon_chips": chips}


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
    ap.add_argument("--displays", type=int, default=len(DEVICES), choices=range(len(DEVICES) + 1),
                    help="simulated displays (0: the idle program)")
    ap.add_argument("--tray", action="store_true",
                    help="give the X display a notification area: the program keeps to its icon, its window"
                         " closed (without one it keeps the window open)")
    ap.add_argument("--hotplug", default="", choices=("", "udev", "kernel", "poll"),
                    help="the program's hot-plug source (default: its own choice, as installed)")
    ap.add_argument("--devsim-log", action="store_true",
                    help="let the simulator log every frame (its cost then counts as the program's)")
    ap.add_argument("--peers-read-fixture", action="store_true",
                    help="let psensor and btop read the recorded tree's /sys/class instead of the machine's")
    ap.add_argument("--floor", action="store_true",
                    help="also measure threads that only wake at stelvox's measured rates")
    ap.add_argument("--json")
    ap.add_argument("--callgrind", type=int, default=0, help="also profile a run of this many seconds")
    args = ap.parse_args()

    peers = not args.no_peers and ensure_peers()
    if not args.no_peers and not peers:
        say("psensor or btop could not be installed: measuring stelvox alone")
    xvfb = harness.Xvfb()
    area = NotificationArea(xvfb.display) if args.tray else None
    results = {"stelvox": [], "psensor": [], "btop": []}
    try:
        for i in range(args.repeats):
            say("round %d/%d: stelvox" % (i + 1, args.repeats))
            results["stelvox"].append(run_stelvox(args, xvfb.display))
            if args.floor and results["stelvox"][-1]:
                say("round %d/%d: wake-up floor" % (i + 1, args.repeats))
                results["stelvox"][-1]["floor"] = run_floor(
                    args, wake_rates(results["stelvox"][-1], args.displays))
            if peers:
                say("round %d/%d: psensor" % (i + 1, args.repeats))
                results["psensor"].append(run_psensor(args, xvfb.display))
                say("round %d/%d: btop" % (i + 1, args.repeats))
                results["btop"].append(run_btop(args))
        if args.callgrind:
            callgrind(args, xvfb.display)
    finally:
        if area:
            area.close()
        xvfb.stop()

    summary = {"seconds": args.seconds, "warmup": args.warmup, "repeats": args.repeats, "tray": args.tray,
               "hotplug": args.hotplug or "program's choice",
               "machine_inputs": machine_inputs(),
               "stelvox_inputs": dict(fixture_inputs(args.fixture), display_devices=args.displays),
               "runs": results}
    print("\nOverhead over %.0f s after %.0f s of warm-up, median of %d (CPU = user + system, from the"
          " scheduler's counters; wake-ups = voluntary context switches):" % (args.seconds, args.warmup, args.repeats))
    head = "%-22s %10s %12s %9s %10s %10s %9s %9s %8s %6s"
    print(head % ("program", "CPU s/s", "from start", "wakeup/s", "RSS MiB", "peak MiB", "priv MiB", "dirty MiB",
                  "threads", "fds"))
    row_format = "%-22s %10.6f %12s %9.2f %10.1f %10.1f %9.1f %9.1f %8d %6d"
    keys = ("cpu_per_s", "wakeups_per_s", "rss_mib", "peak_rss_mib", "private_mib", "dirty_mib", "threads", "fds")
    medians = {}

    def thread_table(rows, sub=None):
        names = sorted({n for r in rows for n in (r[sub] if sub else r).get("per_thread", {})})
        for n in names:
            per = [(r[sub] if sub else r)["per_thread"].get(n) for r in rows if not sub or sub in r]
            per = [x for x in per if x]
            print("    %-18s x%-3d %10.6f %12s %9.2f" % (
                n, max(x["threads"] for x in per), statistics.median(x["cpu_per_s"] for x in per), "",
                statistics.median(x["wakeups_per_s"] for x in per)))

    for name in ("stelvox", "psensor", "btop"):
        rows = [r for r in results[name] if r]
        if not rows:
            continue
        m = {k: med(rows, k) for k in keys + ("cpu_per_s_from_start", "pss_mib")}
        medians[name] = m
        print(row_format % (name, m["cpu_per_s"], "%.5f" % m["cpu_per_s_from_start"], m["wakeups_per_s"],
                            m["rss_mib"], m["peak_rss_mib"], m["private_mib"], m["dirty_mib"], m["threads"],
                            m["fds"]))
        if name == "stelvox":
            thread_table(rows)
        if name == "stelvox" and any("helper" in r for r in rows):
            h = {k: med(rows, k, "helper") for k in keys}
            medians["stelvox-cpuload"] = h
            print(row_format % ("  its stelvox-cpuload", h["cpu_per_s"], "", h["wakeups_per_s"], h["rss_mib"],
                                h["peak_rss_mib"], h["private_mib"], h["dirty_mib"], h["threads"], h["fds"]))
            both = {"cpu_per_s": statistics.median(r["cpu_per_s"] + r["helper"]["cpu_per_s"]
                                                   for r in rows if "helper" in r),
                    "wakeups_per_s": statistics.median(r["wakeups_per_s"] + r["helper"]["wakeups_per_s"]
                                                       for r in rows if "helper" in r),
                    "rss_mib": m["rss_mib"] + h["rss_mib"], "private_mib": m["private_mib"] + h["private_mib"],
                    "dirty_mib": m["dirty_mib"] + h["dirty_mib"]}
            medians["stelvox+helper"] = both
            print("%-22s %10.6f %12s %9.2f %10.1f %10s %9.1f %9.1f" % (
                "  stelvox + helper", both["cpu_per_s"], "", both["wakeups_per_s"], both["rss_mib"], "",
                both["private_mib"], both["dirty_mib"]))
            floors = [r["floor"] for r in rows if r.get("floor")]
            if floors:
                f = {k: statistics.median(x[k] for x in floors) for k in ("cpu_per_s", "wakeups_per_s")}
                medians["wake-up floor"] = f
                print("%-22s %10.6f %12s %9.2f" % ("  wake-up floor", f["cpu_per_s"], "", f["wakeups_per_s"]))
            if args.displays:
                print("%-22s %s" % ("  frames/s per device", [r.get("frames_per_s_per_device") for r in rows]))
    summary["medians"] = medians
    if "stelvox" in medians:
        s = medians["stelvox"]
        both = medians.get("stelvox+helper", s)
        for peer in ("psensor", "btop"):
            if peer not in medians:
                continue
            p = medians[peer]
            ratio = {"cpu": both["cpu_per_s"] / p["cpu_per_s"] if p["cpu_per_s"] > 0 else None,
                     "wakeups": both["wakeups_per_s"] / p["wakeups_per_s"] if p["wakeups_per_s"] > 0 else None,
                     "rss": both["rss_mib"] / p["rss_mib"] if p["rss_mib"] > 0 else None,
                     "private": s["private_mib"] / p["private_mib"] if p["private_mib"] > 0 else None}
            summary["ratio_" + peer] = ratio
            print("stelvox (with helper) / %-8s CPU %s   wake-ups %s   RSS %s   private memory (without helper) %s" % (
                peer, "%.2f" % ratio["cpu"] if ratio["cpu"] is not None else "n/a (peer used no measurable CPU)",
                "%.2f" % ratio["wakeups"] if ratio["wakeups"] is not None else "n/a",
                "%.2f" % ratio["rss"] if ratio["rss"] is not None else "n/a",
                "%.2f" % ratio["private"] if ratio["private"] is not None else "n/a"))
    mi = summary["machine_inputs"]
    print("\nWhat each read: stelvox a recorded tree (%s) and %d simulated displays, %s;"
          % (", ".join(summary["stelvox_inputs"]["hwmon_chips"]) or "no chips", args.displays,
             "a notification area on the display (window closed)" if args.tray
             else "no notification area (window open)"))
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
