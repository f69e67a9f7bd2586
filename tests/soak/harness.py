"""Shared pieces of the soak test and the overhead benchmark: a private copy of the
program with its own folders, process figures read from /proc, and helpers that
find children and wait for conditions.

Runs on Debian's /usr/bin/python3 with the standard library only.
"""
import os
import shutil
import signal
import subprocess
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")


# ---------------------------------------------------------------- /proc figures
def read_stat(pid):
    """Fields of /proc/<pid>/stat after the command name, or None when gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            text = f.read()
    except OSError:
        return None
    return text[text.rindex(")") + 2:].split()


def cpu_seconds(pid):
    """User plus system CPU time of a process (threads included), or None."""
    st = read_stat(pid)
    if st is None:
        return None
    # After the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt
    # cmajflt utime stime ...
    return (int(st[11]) + int(st[12])) / CLK_TCK


def status_kb(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def memory_rollup(pid):
    """Proportional and private resident memory (KiB), which count shared libraries
    fairly where RSS counts them whole."""
    out = {"pss_kb": 0, "private_kb": 0, "private_dirty_kb": 0}
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                key, _, rest = line.partition(":")
                if key == "Pss":
                    out["pss_kb"] = int(rest.split()[0])
                elif key in ("Private_Clean", "Private_Dirty"):
                    out["private_kb"] += int(rest.split()[0])
                    # Clean private pages are mostly library code no other process maps
                    # at the moment: they turn shared as soon as one does. Dirty ones
                    # are the process's own, whatever else runs.
                    if key == "Private_Dirty":
                        out["private_dirty_kb"] = int(rest.split()[0])
    except (OSError, ValueError, IndexError):
        pass
    return out


def fd_count(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return None


def fd_targets(pid):
    out = []
    try:
        for fd in os.listdir("/proc/%d/fd" % pid):
            try:
                out.append(os.readlink("/proc/%d/fd/%s" % (pid, fd)))
            except OSError:
                pass
    except OSError:
        pass
    return sorted(out)


def snapshot(pid):
    """One row of figures for a process: cpu seconds, RSS and peak RSS (KiB),
    threads, open descriptors. None when the process is gone."""
    cpu = cpu_seconds(pid)
    if cpu is None:
        return None
    return {
        "cpu": cpu,
        "rss_kb": status_kb(pid, "VmRSS") or 0,
        "hwm_kb": status_kb(pid, "VmHWM") or 0,
        "threads": status_kb(pid, "Threads") or 0,
        "fds": fd_count(pid) or 0,
    }


def all_pids():
    return [int(p) for p in os.listdir("/proc") if p.isdigit()]


def proc_name(pid):
    try:
        with open("/proc/%d/comm" % pid) as f:
            return f.read().strip()
    except OSError:
        return None


def children(pid):
    out = []
    for p in all_pids():
        st = read_stat(p)
        if st is not None and int(st[1]) == pid:
            out.append(p)
    return out


def pids_with_exe(path):
    """Every live process whose executable is the given file (zombies excluded)."""
    real = os.path.realpath(path)
    out = []
    for p in all_pids():
        try:
            if os.path.realpath("/proc/%d/exe" % p) == real:
                st = read_stat(p)
                if st is not None and st[0] != "Z":
                    out.append(p)
        except OSError:
            pass
    return out


def wait_for(predicate, timeout, step=0.1):
    """Polls a condition that has no signal to wait on (another process's state)."""
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= end:
            return value
        time.sleep(step)


# ---------------------------------------------------------------- the program
class Sandbox:
    """A private copy of the built program with its own configuration, state,
    runtime and log folders, so a run never touches the user's files and never
    meets another instance."""

    PROGRAM_FILES = ("stelvox", "stelvox-cpuload", "libpelmora.so")

    def __init__(self, build_dir, keep=False, prefix="stelvox-soak-"):
        self.build_dir = os.path.abspath(build_dir)
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.keep = keep
        self.bin = os.path.join(self.root, "bin")
        self.config = os.path.join(self.root, "config")
        self.state = os.path.join(self.root, "state")
        self.runtime = os.path.join(self.root, "runtime")
        self.home = os.path.join(self.root, "home")
        self.work = os.path.join(self.root, "work")
        for d in (self.bin, self.config, self.state, self.home, self.work):
            os.makedirs(d)
        os.makedirs(self.runtime, mode=0o700)
        src = os.path.join(self.build_dir, "bin")
        for name in os.listdir(src):
            if name.startswith(self.PROGRAM_FILES):
                full = os.path.join(src, name)
                if os.path.isfile(full):
                    shutil.copy2(full, os.path.join(self.bin, name), follow_symlinks=True)
        self.program = os.path.join(self.bin, "stelvox")
        self.helper = os.path.join(self.bin, "stelvox-cpuload")
        if not os.path.exists(self.program):
            raise FileNotFoundError("no program at %s/bin/stelvox: build it first" % self.build_dir)

    @property
    def settings_file(self):
        return os.path.join(self.config, "Ostrel", "Stelvox.conf")

    @property
    def log_dir(self):
        return os.path.join(self.bin, "logs")

    def log_text(self):
        out = []
        if os.path.isdir(self.log_dir):
            for name in sorted(os.listdir(self.log_dir)):
                try:
                    with open(os.path.join(self.log_dir, name), encoding="utf-8", errors="replace") as f:
                        out.append(f.read())
                except OSError:
                    pass
        return "".join(out)

    def crash_dumps(self):
        d = os.path.join(self.work, "DumpCrashes")
        return sorted(os.listdir(d)) if os.path.isdir(d) else []

    def env(self, extra=None):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "XDG_", "HOST_", "STELVOX_", "LD_PRELOAD", "DEVSIM"))}
        env.update({
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_STATE_HOME": self.state,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "QT_QPA_PLATFORM": "offscreen",
            "STELVOX_HOTPLUG": "poll",
            "LC_ALL": "C.UTF-8",
        })
        if extra:
            env.update(extra)
        return env

    def cleanup(self):
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)


class Program:
    """The running program; its output goes to a file in the sandbox."""

    def __init__(self, sandbox, env):
        self.sandbox = sandbox
        self.out_path = os.path.join(sandbox.root, "program-%d.out" % time.time_ns())
        self.out = open(self.out_path, "wb")
        self.proc = subprocess.Popen([sandbox.program], cwd=sandbox.work, env=env,
                                     stdin=subprocess.DEVNULL, stdout=self.out,
                                     stderr=subprocess.STDOUT)
        self.pid = self.proc.pid
        self.started = time.monotonic()

    def alive(self):
        return self.proc.poll() is None

    def helpers(self):
        return [p for p in children(self.pid) if proc_name(p) == "stelvox-cpuload"]

    def output(self):
        try:
            with open(self.out_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def terminate(self, timeout=20):
        """SIGTERM and wait; returns the exit status or None when it had to be killed."""
        if self.proc.poll() is not None:
            return self.proc.returncode
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        finally:
            self.out.close()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()


class Xvfb:
    """A private X server for the programs that need a real display."""

    def __init__(self):
        self.proc = None
        for n in range(90, 140):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            self.display = ":%d" % n
            self.proc = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1280x800x24",
                                          "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % n) or self.proc.poll() is not None, 15) \
                    and self.proc.poll() is None:
                return
        raise RuntimeError("Xvfb did not start")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
