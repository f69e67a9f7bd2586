#!/usr/bin/env bash
# Inside a throw-away root (throwaway-root.sh): installs the package the way users do,
# installs it twice, upgrades to it from an older one, runs the installed program under
# a virtual X server with a notification area, a recorded machine and a simulated
# display, removes it while it runs, purges it, and does the same install with the
# update installer. Every step prints "ok: ..." or ends the script with "FAIL: ...".
# Usage: install-check.sh <package> <update installer> <build folder> <source folder>
#                         <screenshot folder>
set -uo pipefail

deb="$1" run="$2" build="$3" source="$4" shots="$5"
export DEBIAN_FRONTEND=noninteractive
work="$(mktemp -d)"
fail() {
  echo "FAIL: $*"
  exit 1
}
ok() { echo "ok: $*"; }
# A bounded wait for a condition, in tenths of a second.
wait_for() {
  local tenths="$1"
  shift
  for _ in $(seq 1 "$tenths"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
apt_install() { apt-get install -y --no-install-recommends "$@" >"$work/apt.log" 2>&1; }
package_files() { dpkg-query -L stelvox | while read -r f; do [ -d "$f" ] || echo "$f"; done; }
purge_leaves_nothing() {
  local files
  files="$(package_files)"
  apt-get purge -y stelvox >"$work/apt.log" 2>&1 || fail "purge: $(cat "$work/apt.log")"
  for f in $files; do [ -e "$f" ] && fail "purge left $f"; done
  for d in /usr/share/doc/stelvox /usr/lib/stelvox; do
    [ -e "$d" ] && fail "purge left $d"
  done
  dpkg-query -W stelvox >/dev/null 2>&1 && fail "purge left the package known to dpkg"
  return 0
}

# --- An older release first, then this one over it, then this one again.
mkdir "$work/older"
dpkg-deb -R "$deb" "$work/older/tree"
sed -i 's/^Version: .*/Version: 1.0.0.1/' "$work/older/tree/DEBIAN/control"
dpkg-deb -b "$work/older/tree" "$work/older/stelvox_1.0.0.1_amd64.deb" >/dev/null
apt_install "$work/older/stelvox_1.0.0.1_amd64.deb" || fail "older package: $(cat "$work/apt.log")"
apt_install "$deb" || fail "upgrade: $(cat "$work/apt.log")"
[ "$(dpkg-query -W -f '${Version}' stelvox)" = "$(dpkg-deb -f "$deb" Version)" ] || fail "upgrade"
ok "upgrade from an older package"
grep -q "no udev daemon runs here" "$work/apt.log" || fail "no word on the missing udev daemon"
ok "no udev daemon: said so"
apt_install "$deb" || fail "second install: $(cat "$work/apt.log")"
ok "installed twice"

for f in /usr/bin/stelvox /usr/bin/stelvox-cpuload /usr/lib/udev/rules.d/71-stelvox.rules \
  /usr/share/applications/stelvox.desktop /usr/share/man/man1/stelvox.1.gz \
  /usr/share/doc/stelvox/copyright /usr/share/icons/hicolor/48x48/apps/stelvox.png; do
  [ -f "$f" ] || fail "missing $f"
done
grep -qx 'Exec=/usr/bin/stelvox' /usr/share/applications/stelvox.desktop || fail "Exec= of the entry"
ok "files in place"

# --- The installed program, run by root as the menu would start it, in a session
# without D-Bus; a notification area (trayer) comes later.
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS XDG_STATE_HOME XDG_CONFIG_HOME
Xvfb -displayfd 3 -screen 0 1024x700x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
wait_for 100 test -s "$work/display" || fail "Xvfb did not start"
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY QT_QPA_PLATFORM=xcb
fixture="$source/tests/fixtures/amd-desktop"
echo "/dev/hidraw-installed serial=SIM-0001 hw=1.0 fw=1.0" >"$work/devsim.conf"
start_program() {
  (cd "$HOME" && HOST_SYS="$fixture/sys" HOST_PROC="$fixture/proc" STELVOX_HOTPLUG=poll \
    STELVOX_DEVSIM_CONFIG="$work/devsim.conf" STELVOX_DEVSIM_LOG="$work/frames.log" \
    LD_PRELOAD="$build/bin/libstelvox-devsim.so" ASAN_OPTIONS="${PROGRAM_ASAN_OPTIONS:-}" \
    exec /usr/bin/stelvox >>"$work/program.out" 2>&1) &
}
start_program
program=$!
values_or_end() {
  grep -q "cpu=48 .*gpu=52 gpu_usage=17 fan=1065" "$work/frames.log" || ! kill -0 "$program"
}
wait_for 600 values_or_end
grep -q "cpu=48 .*gpu=52 gpu_usage=17 fan=1065" "$work/frames.log" ||
  fail "no values reached the simulated display: $(tail -5 "$work/program.out")"
ok "values on the simulated display"
log="$(ls "$HOME"/.local/state/Stelvox/logs/Log_*.txt 2>/dev/null)"
[ -n "$log" ] || fail "no log in the state folder"
[ -e /usr/bin/logs ] && fail "the program wrote beside itself"
wait_for 300 grep -q "First values: CPU temperature 48, CPU usage .*, GPU temperature 52, GPU usage 17, fan 1065; 1 display device(s) recognised." "$log" ||
  fail "the log does not say what was found: $(cat "$log")"
grep -q "Notification area: none found" "$log" || fail "the log does not say the tray is missing"
ok "log in the state folder says what it found: $log"

# A notification area appears; the icon moves into it, and its menu opens.
trayer --widthtype request --height 32 --edge top --align right >/dev/null 2>&1 &
# The icon is the program's small window there; its main window is open too, as the
# desktop had no notification area when it started.
tray_icon() {
  local window size
  for window in $(xdotool search --onlyvisible --classname stelvox); do
    size="$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')"
    set -- $size
    if [ "${1:-999}" -le 64 ] && [ "${2:-999}" -le 64 ]; then
      echo "$window"
      return 0
    fi
  done
  return 1
}
wait_for 300 tray_icon || fail "no tray icon in the notification area"
icon="$(tray_icon)"
ok "tray icon in the X11 notification area"
# The menu is one more window of the program.
shown="$(xdotool search --onlyvisible --classname stelvox | wc -l)"
xdotool mousemove --window "$icon" 8 8 click 3
wait_for 100 sh -c "[ \$(xdotool search --onlyvisible --classname stelvox | wc -l) -gt $shown ]" ||
  fail "the tray menu did not open"
sleep 0.5 # the menu's first paint; nothing to wait on from outside
"$build/tests/tst_e2e_shot" "$shots/installed-tray-menu.png" || fail "screenshot"
ok "tray menu open: $shots/installed-tray-menu.png"
# Its last entry asks to quit; cancelled, the program goes on.
xdotool key Up Return
wait_for 100 sh -c "xdotool search --onlyvisible --name 'Kind Tips' | grep -q ." ||
  fail "the menu's last entry did not ask to quit"
xdotool key Escape
wait_for 100 sh -c "! xdotool search --onlyvisible --name 'Kind Tips' | grep -q ." ||
  fail "the quit question did not close"
kill -0 "$program" 2>/dev/null || fail "the program ended though quitting was cancelled"
ok "tray menu's quit entry asks, and cancelling keeps the program"

# Started again from the menu: the running one shows its window.
/usr/bin/stelvox >/dev/null 2>&1
wait_for 300 sh -c "xdotool search --onlyvisible --name 'Device Monitor Application' | grep -q ." ||
  fail "the window did not come forward"
sleep 1 # a sample to show
"$build/tests/tst_e2e_shot" "$shots/installed-window.png" || fail "screenshot"
ok "window shown: $shots/installed-window.png"

# --- An ordinary user at the desk: no root, and nothing copied by hand.
useradd --create-home desk >/dev/null 2>&1 || fail "could not add a user"
desk="$(mktemp -d)"
chown desk: "$desk" && chmod 700 "$desk" && mkdir -m 700 "$desk/runtime" && chown desk: "$desk/runtime"
echo "/dev/hidraw-desk serial=SIM-0002" >"$desk/devsim.conf"
(cd /home/desk && HOME=/home/desk XDG_RUNTIME_DIR="$desk/runtime" HOST_SYS="$fixture/sys" \
  HOST_PROC="$fixture/proc" STELVOX_HOTPLUG=poll STELVOX_DEVSIM_CONFIG="$desk/devsim.conf" \
  STELVOX_DEVSIM_LOG="$desk/frames.log" LD_PRELOAD="$build/bin/libstelvox-devsim.so" \
  ASAN_OPTIONS="${PROGRAM_ASAN_OPTIONS:-}" \
  exec setpriv --reuid=desk --regid=desk --init-groups /usr/bin/stelvox >"$desk/out" 2>&1) &
user_program=$!
user_values_or_end() {
  grep -q "cpu=48 .*fan=1065" "$desk/frames.log" || ! kill -0 "$user_program"
}
wait_for 600 user_values_or_end
grep -q "cpu=48 .*fan=1065" "$desk/frames.log" ||
  fail "no values for an ordinary user: $(tail -5 "$desk/out")"
ls /home/desk/.local/state/Stelvox/logs/Log_*.txt >/dev/null 2>&1 || fail "no log for the user"
kill -TERM "$user_program"
wait_for 200 sh -c "! kill -0 $user_program" || fail "the user's program did not end"
ok "an ordinary user sees values, with the log in their state folder"

# --- Removing it while it runs: the package goes, the running program stays.
apt-get remove -y stelvox >"$work/apt.log" 2>&1 || fail "remove: $(cat "$work/apt.log")"
grep -q "Stelvox is running" "$work/apt.log" || fail "no word on the running program"
kill -0 "$program" 2>/dev/null || fail "the running program ended with the removal"
kill -TERM "$program"
wait_for 200 sh -c "! kill -0 $program" || fail "the program did not end on SIGTERM"
ok "removed while running"
purge_leaves_nothing
ok "purge leaves no file of the package"

# --- The update installer does the same install without a question.
"$run" -- --no-start >"$work/run.log" 2>&1 || fail "update installer: $(cat "$work/run.log")"
[ "$(dpkg-query -W -f '${Status}' stelvox)" = "install ok installed" ] || fail "after the installer"
[ -x /usr/bin/stelvox ] || fail "no program after the installer"
ok "update installer installed the package"
purge_leaves_nothing
ok "purge after the update installer leaves nothing"
echo "all steps passed"
