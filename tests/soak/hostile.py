"""Hostile inputs for the soak: a sensor tree that changes under the program and
sometimes loses files, and a settings file that is changed and damaged from
outside. Every mutation is reversible, so the tree keeps drifting between sound
and broken states instead of ending up wholly destroyed.
"""
import os
import random
import re
import shutil

SETTING_KEYS = [
    "language", "startup", "temperature unit", "change interval",
    "display cpu temperature", "display gpu temperature", "display fan rpm",
    "temperature alarm", "usage rate alarm", "fan rpm alarm",
    "next upgrade time", "upgrade version",
]

HOSTILE_NUMBERS = [
    "0", "-1", "1", "2147483647", "2147483648", "-2147483648", "99999999999999999999",
    "abc", "", " 7 ", "0x10", "1e3", "3.5", "NaN", "\u4e2d\u6587", "\"quoted\"", "@Invalid()",
    "@ByteArray(\\0\\0)", "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x12garbage)",
]

VALUE_FILE = re.compile(r"^(temp\d+_(input|max|crit|label)|fan\d+_(input|label|min)|"
                        r"in\d+_input|power\d+_\w+|gpu_busy_percent|name|uevent)$")


def plausible(name, rnd):
    if name.startswith("temp") and name.endswith("_input"):
        return "%d\n" % rnd.randrange(20000, 98000)
    if name.startswith("fan") and name.endswith("_input"):
        return "%d\n" % rnd.choice([0, rnd.randrange(200, 3000)])
    if name == "gpu_busy_percent":
        return "%d\n" % rnd.randrange(0, 101)
    return None


def garbage(rnd):
    return rnd.choice([
        b"", b"\n", b"abc\n", b"-1\n", b"-273150\n", b"99999999999999999999999999\n",
        b"nan\n", b"1e9\n", b"  42000  \n", b"0x10\n", b"\x00\x00\x00\x00",
        bytes(rnd.randrange(256) for _ in range(64)), b"4" * 65536, b"42000",
        b"\xff\xfe\xfd\n", b"42000\n43000\n",
    ])


class SensorTree:
    """A copy of a fixture tree (sys, proc, dev roots) that the soak mutates."""

    def __init__(self, fixture, dest, seed=1):
        self.root = dest
        shutil.copytree(fixture, dest, symlinks=True)
        self.rnd = random.Random(seed)
        self.saved = {}      # path -> original bytes, for files currently damaged
        self.moved = []      # (from, to) directory renames to undo
        self.links = []      # loop links to remove
        self.counts = {}
        self.stat_ticks = None

    def _count(self, kind):
        self.counts[kind] = self.counts.get(kind, 0) + 1

    def value_files(self):
        out = []
        for dirpath, dirnames, filenames in os.walk(self.root):
            for name in filenames:
                if VALUE_FILE.match(name):
                    out.append(os.path.join(dirpath, name))
        return out

    def hwmon_dirs(self):
        out = []
        for dirpath, dirnames, _ in os.walk(self.root):
            for d in dirnames:
                if re.match(r"^hwmon\d+$", d) and not os.path.islink(os.path.join(dirpath, d)):
                    out.append(os.path.join(dirpath, d))
        return out

    def _save(self, path):
        if path in self.saved:
            return True
        try:
            with open(path, "rb") as f:
                self.saved[path] = f.read()
            return True
        except OSError:
            return False

    def _restore(self, path):
        data = self.saved.pop(path)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        elif os.path.lexists(path):
            os.remove(path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def _write(self, path, data):
        if isinstance(data, str):
            data = data.encode()
        tmp = path + ".soak-tmp"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)

    def step(self):
        """One change to the tree. Returns a short description."""
        rnd = self.rnd
        # Half of the damaged files come back each step, so damage never piles up.
        for path in list(self.saved):
            if rnd.random() < 0.5 and os.path.isdir(os.path.dirname(path)):
                self._restore(path)
        if self.moved and rnd.random() < 0.5:
            src, dst = self.moved.pop()
            if os.path.isdir(dst) and not os.path.exists(src):
                os.rename(dst, src)
        if self.links and rnd.random() < 0.5:
            link = self.links.pop()
            if os.path.islink(link):
                os.remove(link)

        self.advance_proc_stat()
        files = [p for p in self.value_files() if p not in self.saved]
        roll = rnd.random()
        if files and roll < 0.45:
            path = rnd.choice(files)
            value = plausible(os.path.basename(path), rnd)
            if value is None:
                return "nothing"
            self._write(path, value)
            self._count("value")
            return "value " + os.path.relpath(path, self.root)
        if files and roll < 0.70:
            path = rnd.choice(files)
            if self._save(path):
                self._write(path, garbage(rnd))
                self._count("garbage")
                return "garbage " + os.path.relpath(path, self.root)
        if files and roll < 0.85:
            path = rnd.choice(files)
            if self._save(path):
                os.remove(path)
                if rnd.random() < 0.3:
                    os.mkdir(path)  # a directory where a file was
                self._count("removed")
                return "removed " + os.path.relpath(path, self.root)
        hw = self.hwmon_dirs()
        if hw and roll < 0.93:
            src = rnd.choice(hw)
            dst = os.path.join(os.path.dirname(src), "hwmon%d" % rnd.randrange(50, 99))
            if not os.path.exists(dst):
                # Renaming under open readers is what a driver reload does to hwmonN numbers.
                saved_inside = [p for p in self.saved if p.startswith(src + os.sep)]
                for p in saved_inside:
                    self._restore(p)
                os.rename(src, dst)
                self.moved.append((src, dst))
                self._count("renumbered")
                return "renumbered " + os.path.relpath(src, self.root)
        if hw:
            d = rnd.choice(hw)
            link = os.path.join(d, "loop%d" % rnd.randrange(1000))
            if not os.path.lexists(link):
                os.symlink(".", link)
                self.links.append(link)
                self._count("loop")
                return "loop link in " + os.path.relpath(d, self.root)
        return "nothing"

    def advance_proc_stat(self):
        """Moves the CPU counters on, so the usage figure changes; sometimes backwards."""
        path = os.path.join(self.root, "proc", "stat")
        if not os.path.isfile(path) or path in self.saved:
            return
        try:
            with open(path) as f:
                lines = f.read().splitlines()
        except (OSError, UnicodeDecodeError):
            return
        rnd = self.rnd
        out = []
        for line in lines:
            parts = line.split()
            if parts and parts[0].startswith("cpu") and len(parts) > 4:
                nums = [int(x) if x.isdigit() else 0 for x in parts[1:]]
                busy = rnd.randrange(0, 100)
                nums[0] += busy
                nums[3] += 100 - busy
                if rnd.random() < 0.03:
                    nums = [max(0, n - 5000) for n in nums]  # a counter that went back
                line = " ".join([parts[0]] + [str(n) for n in nums])
            out.append(line)
        self._write(path, "\n".join(out) + "\n")
        if rnd.random() < 0.05 and self._save(path):
            self._write(path, garbage(rnd))
            self._count("stat-garbage")

    def heal(self):
        """Undoes every outstanding change, for the final phase of a run."""
        for link in self.links:
            if os.path.islink(link):
                os.remove(link)
        self.links = []
        while self.moved:
            src, dst = self.moved.pop()
            if os.path.isdir(dst) and not os.path.exists(src):
                os.rename(dst, src)
        for path in list(self.saved):
            if os.path.isdir(os.path.dirname(path)):
                self._restore(path)


class SettingsFile:
    """The settings file, changed and damaged from outside while the program runs."""

    def __init__(self, path, seed=2):
        self.path = path
        self.rnd = random.Random(seed)
        self.counts = {}
        os.makedirs(os.path.dirname(path), exist_ok=True)

    def _count(self, kind):
        self.counts[kind] = self.counts.get(kind, 0) + 1

    def write_values(self, values):
        lines = ["[General]"]
        for key, value in values.items():
            lines.append("%s=%s" % (key.replace(" ", "%20"), value))
        self._put("\n".join(lines) + "\n")

    def _put(self, data):
        if isinstance(data, str):
            data = data.encode("utf-8")
        if os.path.isdir(self.path) and not os.path.islink(self.path):
            shutil.rmtree(self.path)
        elif os.path.lexists(self.path):
            os.remove(self.path)
        with open(self.path, "wb") as f:
            f.write(data)

    def sound(self):
        """A valid file with sensible values (the reminder pending far ahead)."""
        self.write_values({"language": 2, "startup": 1, "temperature unit": 0,
                           "change interval": 2000, "display cpu temperature": 1,
                           "display gpu temperature": 1, "display fan rpm": 1,
                           "temperature alarm": 90, "usage rate alarm": 95,
                           "fan rpm alarm": 300})

    def step(self):
        rnd = self.rnd
        roll = rnd.random()
        if roll < 0.35:
            values = {k: rnd.choice(HOSTILE_NUMBERS) for k in rnd.sample(SETTING_KEYS, 5)}
            values["startup"] = 1  # never leave an autostart entry behind in a test home
            self.write_values(values)
            self._count("odd values")
            return "odd values"
        if roll < 0.50:
            self._put(bytes(rnd.randrange(256) for _ in range(rnd.randrange(1, 4096))))
            self._count("binary")
            return "binary"
        if roll < 0.60:
            self._put("[General\nchange interval\n=\n[[]]\n%=%\nlanguage=1\x00\n[General]\n"
                      "startup=1\ntemperature%20unit=\\\n")
            self._count("broken syntax")
            return "broken syntax"
        if roll < 0.68:
            self._put("[General]\nstartup=1\nupgrade%20version=" + "V9." * 20000 + "\n")
            self._count("long value")
            return "long value"
        if roll < 0.76:
            if os.path.lexists(self.path):
                if os.path.isdir(self.path) and not os.path.islink(self.path):
                    shutil.rmtree(self.path)
                else:
                    os.remove(self.path)
            self._count("deleted")
            return "deleted"
        if roll < 0.82:
            if os.path.lexists(self.path):
                if os.path.isdir(self.path) and not os.path.islink(self.path):
                    shutil.rmtree(self.path)
                else:
                    os.remove(self.path)
            os.mkdir(self.path)
            self._count("directory")
            return "directory"
        if roll < 0.88:
            self._put("")
            self._count("empty")
            return "empty"
        self.sound()
        self._count("sound")
        return "sound"
