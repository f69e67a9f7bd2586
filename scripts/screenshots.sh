#!/usr/bin/env bash
# Screenshots of the main window (two simulated display devices), the settings dialog,
# the about dialog, the quit question and the tray menu in each of the three languages,
# taken under Xvfb. Writes PNG files into <build folder>/screenshots.
#   scripts/screenshots.sh [build folder]        (default: build)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="$build/screenshots"

for tool in xvfb-run xauth; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done

cmake --build "$build" --target stelvox_screenshots -j2
program="$build/tests/stelvox_screenshots"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Nothing of this machine's own: settings, sensors and devices come from the scratch folder.
mkdir -p "$work/config" "$work/sys/module/msr" "$work/proc" "$work/dev"
cat > "$work/devices.conf" <<'DEVICES'
/dev/hidraw3 hw=2.0 fw=1.4 uuid=3A5F01C2B7E49D60A1F23B44 serial=ZRT-0001
/dev/hidraw5 hw=2.1 fw=1.6 uuid=7C10E2D3F4A5B6C7D8E9FA0B serial=ZRT-0002
DEVICES

mkdir -p "$out"
status=0
for language in 0 1 2; do
  rm -rf "$work/config"/*
  env XDG_CONFIG_HOME="$work/config" HOST_SYS="$work/sys" HOST_PROC="$work/proc" \
      HOST_DEV="$work/dev" STELVOX_DEVSIM_CONFIG="$work/devices.conf" STELVOX_HOTPLUG=poll \
      xvfb-run -a -s "-screen 0 1600x1200x24" "$program" "$language" "$out" || status=1
done
echo "Screenshots in $out"
exit $status
