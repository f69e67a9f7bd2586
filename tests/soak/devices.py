"""Simulated display devices for the soak, through devsim's configuration file and
frame log (tools/devsim): a steady pair that stays all along, healthy devices that
come and go, and devices that fail in each way devsim can fail."""
import os
import random

# name -> devsim options. Paths are invented hidraw-like names, unique per run.
STEADY = {"steady-a": "", "steady-b": ""}
CHURN = {"churn-c": "", "churn-d": "hw=2.1 fw=3.4"}
FAILING = {
    "reject-e": "fail=reject",               # takes frames, answers "rejected"
    "mute-f": "fail=silent-frames",          # recognised, then never answers a frame
    "silent-g": "fail=silent",               # never answers the identify request
    "noopen-h": "fail=open",
    "noread-i": "fail=read",
    "nowrite-j": "fail=write",
    "badreport-k": "fail=bad-report",
    "stranger-l": "vid=1234 pid=5678",       # another vendor's device
    "noserial-m": "serial=none",
    "slow-n": "delay=200",                   # answers late; removed while a frame waits
}


class Devices:
    def __init__(self, folder, seed=3, run_tag="soak"):
        self.config = os.path.join(folder, "devsim.conf")
        self.log = os.path.join(folder, "devsim-frames.log")
        self.rnd = random.Random(seed)
        self.tag = run_tag
        self.present = set(STEADY)
        self.events = 0
        self.write()

    def path(self, name):
        return "/dev/hidraw-%s-%s" % (self.tag, name)

    def options(self, name):
        for table in (STEADY, CHURN, FAILING):
            if name in table:
                return table[name]
        raise KeyError(name)

    def env(self):
        return {"STELVOX_DEVSIM_CONFIG": self.config, "STELVOX_DEVSIM_LOG": self.log}

    def write(self):
        lines = ["%s %s" % (self.path(n), self.options(n)) for n in sorted(self.present)]
        tmp = self.config + ".tmp"
        with open(tmp, "w") as f:
            f.write("\n".join(lines) + "\n")
        os.replace(tmp, self.config)  # a new inode: devsim sees the change at once

    def set_present(self, names):
        self.present = set(names) | set(STEADY)
        self.write()

    def step(self):
        """One arrival or departure among the non-steady devices."""
        pool = sorted(set(CHURN) | set(FAILING))
        name = self.rnd.choice(pool)
        if name in self.present:
            self.present.discard(name)
            what = "leaves"
        else:
            self.present.add(name)
            what = "arrives"
        self.events += 1
        self.write()
        return "%s %s" % (name, what)

    def vanish_mid_frame(self, name, timeout=3.0):
        """Removes a slow-answering device just after a frame was written to it, so it
        departs while the program waits for the reply. Returns whether it was timed so."""
        import time
        path = self.path(name)
        if name not in self.present:
            self.present.add(name)
            self.write()
        offset = self.log_size()
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if any(e[1] == path and e[2] == "frame" for e in self.read_log(offset)):
                self.present.discard(name)
                self.write()
                self.events += 1
                return True
            time.sleep(0.02)
        return False

    # ------------------------------------------------------------ the frame log
    def log_size(self):
        try:
            return os.path.getsize(self.log)
        except OSError:
            return 0

    def read_log(self, offset=0):
        """Lines of the frame log from a byte offset: (ms, path, event, fields)."""
        out = []
        try:
            with open(self.log, "rb") as f:
                f.seek(offset)
                data = f.read()
        except OSError:
            return out
        for raw in data.decode("utf-8", "replace").splitlines():
            parts = raw.split(" ", 3)
            if len(parts) >= 3 and parts[0].isdigit():
                out.append((int(parts[0]), parts[1], parts[2], parts[3] if len(parts) > 3 else ""))
        return out

    def frames_by_device(self, offset=0):
        counts = {}
        for _, path, event, _ in self.read_log(offset):
            if event == "frame":
                counts[path] = counts.get(path, 0) + 1
        return counts

    @staticmethod
    def frame_fields(fields):
        out = {}
        for word in fields.split():
            if "=" in word:
                k, v = word.split("=", 1)
                out[k] = v
        return out
