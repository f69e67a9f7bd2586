"""The test rig around one run of the program: sandbox, sensor tree, settings file,
simulated devices, hostile update server and the preload libraries that tie them
to the program. Used by the soak, the start-up sweep and the overhead benchmark."""
import os
import re
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import devices as devmod  # noqa: E402
import harness  # noqa: E402
import hostile  # noqa: E402

MSR_THERM_STATUS = 0x19C


def source_dir():
    return os.environ.get("STELVOX_SOURCE_DIR") or os.path.normpath(os.path.join(HERE, "..", ".."))


def default_fixture(name="amd-desktop"):
    return os.path.join(source_dir(), "tests", "fixtures", name)


def asan_runtime(program):
    """The sanitizer runtime a program links, which must come first in LD_PRELOAD."""
    try:
        out = subprocess.run(["ldd", program], capture_output=True, text=True, timeout=30).stdout
    except (OSError, subprocess.TimeoutExpired):
        return None
    for line in out.splitlines():
        m = re.match(r"\s*(libasan\.so\S*)\s+=>\s+(\S+)", line)
        if m:
            return m.group(2)
    return None


def write_msr(path, readout, valid=True):
    """A processor's register file: the thermal status register holds `readout`
    degrees below the junction maximum."""
    value = (readout & 0x7F) << 16 | ((1 << 31) if valid else 0)
    mode = "r+b" if os.path.exists(path) else "wb"
    with open(path, mode) as f:
        if mode == "wb":
            f.write(b"\0" * 0x200)
        f.seek(MSR_THERM_STATUS)
        f.write(struct.pack("<Q", value))


class Rig:
    def __init__(self, build_dir, fixture=None, seed=1, tag="soak", keep=False,
                 ftp_modes="good", flood_rate=64 * 1024, update_host=None, log=print,
                 frame_log=True):
        self.log = log
        self.sandbox = harness.Sandbox(build_dir, keep=keep, prefix="stelvox-%s-" % tag)
        root = self.sandbox.root
        self.sensors = hostile.SensorTree(fixture or default_fixture(), os.path.join(root, "host"), seed)
        self.dev_root = os.path.join(self.sensors.root, "dev")
        self.processors = 4
        for n in range(self.processors):
            os.makedirs(os.path.join(self.dev_root, "cpu", str(n)), exist_ok=True)
            write_msr(os.path.join(self.dev_root, "cpu", str(n), "msr"), 55)
        self.settings = hostile.SettingsFile(self.sandbox.settings_file, seed + 1)
        self.settings.sound()
        self.devices = devmod.Devices(root, seed + 2, run_tag=tag)
        self.frame_log = frame_log
        self.build_dir = os.path.abspath(build_dir)
        self.update_host = update_host or self._configured_update_host()
        self.ftp = None
        self.ftp_log = os.path.join(root, "ftp.log")
        self.ftp_port = None
        if ftp_modes:
            self.start_ftp(ftp_modes, flood_rate)
        self.program = None

    # ------------------------------------------------------------ update server
    def _configured_update_host(self):
        try:
            with open(os.path.join(self.build_dir, "CMakeCache.txt")) as f:
                for line in f:
                    if line.startswith("STELVOX_UPDATE_HOST:"):
                        return line.split("=", 1)[1].strip()
        except OSError:
            pass
        return "update.stelvox.example"

    def start_ftp(self, modes, flood_rate):
        ready = os.path.join(self.sandbox.root, "ftp.port")
        self.ftp = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "fakeftp.py"), "--port", "0", "--modes", modes,
             "--log", self.ftp_log, "--flood-rate", str(flood_rate), "--ready-file", ready],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not harness.wait_for(lambda: os.path.exists(ready) and os.path.getsize(ready) > 0, 20):
            raise RuntimeError("the fake update server did not start")
        with open(ready) as f:
            self.ftp_port = int(f.read().strip())

    def ftp_events(self):
        try:
            with open(self.ftp_log) as f:
                return f.read().splitlines()
        except OSError:
            return []

    # ------------------------------------------------------------ the program
    def preload(self):
        libs = []
        runtime = asan_runtime(self.sandbox.program)
        if runtime:
            libs.append(runtime)
        libs.append(os.path.join(self.build_dir, "bin", "libstelvox-devsim.so"))
        shim = os.path.join(self.build_dir, "tests", "libstelvox-soak-netshim.so")
        if os.path.exists(shim):
            libs.append(shim)
        return ":".join(libs)

    def env(self, extra=None):
        host = self.sensors.root
        env = {
            "HOST_SYS": os.path.join(host, "sys"),
            "HOST_PROC": os.path.join(host, "proc"),
            "HOST_DEV": self.dev_root,
            "LD_PRELOAD": self.preload(),
            "SOAK_UPDATE_HOST": self.update_host,
            # Nothing listens here unless a server was started: the check is refused.
            "SOAK_FTP_PORT": str(self.ftp_port or 9),
            # A sanitized program reports leaks at its clean exit; known library leaks
            # are suppressed as in the unit tests.
            # A small quarantine keeps resident memory meaningful for the growth checks;
            # the program's crash handler keeps the fatal signals (a crash leaves a dump).
            "ASAN_OPTIONS": "detect_leaks=1:halt_on_error=1:quarantine_size_mb=16:handle_segv=0:"
                            "handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0",
            "LSAN_OPTIONS": "suppressions=%s:print_suppressions=0"
                            % os.path.join(source_dir(), "tests", "sanitizers", "lsan.supp"),
            "UBSAN_OPTIONS": "print_stacktrace=1:halt_on_error=1",
        }
        env.update(self.devices.env())
        if not self.frame_log:
            env.pop("STELVOX_DEVSIM_LOG", None)
        if extra:
            env.update(extra)
        return self.sandbox.env(env)

    def start(self, extra_env=None):
        self.program = harness.Program(self.sandbox, self.env(extra_env))
        return self.program

    def wait_streaming(self, paths, timeout, offset=0):
        """Waits until every path in `paths` got a frame after `offset` in the frame log."""
        def done():
            counts = self.devices.frames_by_device(offset)
            return all(counts.get(p, 0) > 0 for p in paths) or (self.program and not self.program.alive())
        harness.wait_for(done, timeout, 0.25)
        counts = self.devices.frames_by_device(offset)
        return all(counts.get(p, 0) > 0 for p in paths)

    def steady_paths(self):
        return [self.devices.path(n) for n in sorted(devmod.STEADY)]

    # ------------------------------------------------------------ the log
    ENTRY = re.compile(r"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] \[([^\]]{8})\] (\S*)\(\): (.*)$")

    def log_entries(self):
        """(level label, function, message) of every log line; a message that spans
        lines keeps its continuation lines."""
        out = []
        for line in self.sandbox.log_text().splitlines():
            m = self.ENTRY.match(line)
            if m:
                out.append([m.group(1).strip(), m.group(2), m.group(3)])
            elif out and not line.startswith("*"):
                out[-1][2] += "\n" + line
        return [tuple(e) for e in out]

    def error_lines(self):
        """(function, message) of every Error and Critical log line."""
        return [(f, m) for level, f, m in self.log_entries() if level in ("Error", "Critical")]

    def unexpected_errors(self, allowed_paths=()):
        """Error lines that no injected fault explains.

        Allowed: device failures of devices that were made to fail or that came and
        went, a failed update check (the server is hostile), and the missing processor
        register device (the sandbox has none unless it made one)."""
        allowed_paths = [p.upper() for p in allowed_paths]
        out = []
        for function, message in self.error_lines():
            if function == "SendHIDDataThread::sendDataToHIDDevice":
                # The path is on the message's second line, or in the open failure.
                if any(p in message.upper() for p in allowed_paths):
                    continue
            elif function == "FtpManager::onCmdFinished" and message.startswith("FTP command Failed."):
                continue
            out.append((function, message))
        return out

    def sanitizer_reports(self):
        text = self.program.output() if self.program else ""
        return [l for l in text.splitlines()
                if "AddressSanitizer" in l or "runtime error:" in l or "LeakSanitizer" in l]

    def stop_ftp(self):
        if self.ftp and self.ftp.poll() is None:
            self.ftp.terminate()
            try:
                self.ftp.wait(10)
            except subprocess.TimeoutExpired:
                self.ftp.kill()
                self.ftp.wait()

    def close(self):
        if self.program:
            self.program.kill()
        self.stop_ftp()
        self.sandbox.cleanup()
