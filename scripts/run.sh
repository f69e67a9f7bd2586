#!/usr/bin/env bash
# Starts the built program for `make run`. Where no display server runs, a virtual
# one is started; where no Stelvox display is attached, one is simulated and what it
# shows is printed here. Ctrl-C ends everything this script started.
set -uo pipefail

build="${1:-build}"
program="$build/bin/stelvox"
devsim="$build/bin/libstelvox-devsim.so"
if [ ! -x "$program" ]; then
  echo "run.sh: $program is not built; run 'make build' first." >&2
  exit 1
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/stelvox-run.XXXXXX")"
xvfb_pid=""
program_pid=""

stop() {
  local pid="$1" name="$2"
  [ -n "$pid" ] || return 0
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  # The program shuts down in order (helper process, devices); give it time.
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
  echo "run.sh: $name did not end; killing it." >&2
  kill -KILL "$pid" 2>/dev/null
}

cleanup() {
  trap - EXIT INT TERM
  stop "$program_pid" stelvox
  wait "$program_pid" 2>/dev/null
  stop "$xvfb_pid" Xvfb
  wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "run.sh: stopping."; exit 130' INT
trap 'exit 143' TERM

# A display server for the program's window and tray icon.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if ! command -v Xvfb >/dev/null 2>&1; then
    echo "run.sh: no display server runs and Xvfb is not installed (make deps)." >&2
    exit 1
  fi
  # A session of its own: Ctrl-C in this terminal must not end it before the program.
  setsid Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$work/display" ]; then
    echo "run.sh: the virtual display server did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  export DISPLAY=":$(head -n1 "$work/display")"
  echo "run.sh: no display server runs here; started a virtual one (Xvfb) on $DISPLAY."
  echo "        The program's window cannot be seen; the display output below shows it at work."
fi

# A real display device, if one is attached (vendor 2E3C, product 0A15).
real_devices=()
for uevent in /sys/class/hidraw/*/device/uevent; do
  [ -r "$uevent" ] || continue
  if grep -qix 'HID_ID=0003:00002E3C:00000A15' "$uevent"; then
    node="/dev/$(basename "$(dirname "$(dirname "$uevent")")")"
    real_devices+=("$node")
  fi
done

if [ ${#real_devices[@]} -gt 0 ]; then
  echo "run.sh: using the attached display device(s): ${real_devices[*]}"
  for node in "${real_devices[@]}"; do
    if [ ! -r "$node" ] || [ ! -w "$node" ]; then
      echo "run.sh: $node cannot be opened by $(id -un); install packaging/71-stelvox.rules" \
           "into /etc/udev/rules.d, run 'udevadm control --reload && udevadm trigger' as root" \
           "and replug the device." >&2
    fi
  done
else
  if [ ! -e "$devsim" ]; then
    echo "run.sh: no display device is attached and $devsim is not built." >&2
    exit 1
  fi
  echo "/dev/hidraw-simulated0 serial=SIM-0001 hw=1.0 fw=1.0" >"$work/devsim.conf"
  export LD_PRELOAD="$(cd "$(dirname "$devsim")" && pwd)/$(basename "$devsim")${LD_PRELOAD:+:$LD_PRELOAD}"
  export STELVOX_DEVSIM_CONFIG="$work/devsim.conf"
  export STELVOX_DEVSIM_SCREEN=-
  # The simulated device is not known to udev; look for devices by listing them.
  export STELVOX_HOTPLUG=poll
  echo "run.sh: no Stelvox display is attached; simulating one (tools/devsim)."
  echo "        Lines 'devsim: ... shows ...' are what that display shows."
fi

# A machine without any sensor chip (a container, a virtual machine) would show
# nothing but "--": show a recorded desktop instead, and say so.
if [ -z "${HOST_SYS:-}" ] && ! ls /sys/class/hwmon/*/name >/dev/null 2>&1; then
  fixture="$(cd "$(dirname "$0")/.." && pwd)/tests/fixtures/amd-desktop"
  export HOST_SYS="$fixture/sys" HOST_PROC="$fixture/proc"
  echo "run.sh: this machine reports no sensors; reading the recorded machine $fixture instead."
fi

# Settings of this build-tree run stay in the build folder: the program registers
# itself to start at log-on by default, and a build tree is not what should start.
export XDG_CONFIG_HOME="$(cd "$build" && pwd)/run-config"
mkdir -p "$XDG_CONFIG_HOME"
echo "run.sh: settings of this run are kept in $XDG_CONFIG_HOME."

echo "run.sh: starting $program (Ctrl-C ends it)."
started=$(date +%s)
"$program" &
program_pid=$!
wait "$program_pid"
status=$?
program_pid=""
if [ "$status" -eq 0 ] && [ $(( $(date +%s) - started )) -le 2 ]; then
  echo "run.sh: Stelvox already runs in this session; its window was brought forward."
fi
exit "$status"
