#!/bin/sh
# Runs inside the update installer, in the folder it was unpacked to: installs the
# bundled package through the system's package manager, with administrator rights from
# pkexec (a password dialog on the desktop), else sudo (in a terminal), else not at all.
# Options: --no-start  do not start the program again afterwards.
set -u

start=yes
[ "${1:-}" = "--no-start" ] && start=no

fail() {
  echo "Stelvox setup: $*" >&2
  exit 1
}

deb="$(ls "$PWD"/stelvox_*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || fail "the installer holds no package; download it again."
command -v apt-get >/dev/null 2>&1 ||
  fail "this installer needs apt (Debian, Ubuntu and their derivatives). The package is $deb."

if [ "$(id -u)" -eq 0 ]; then
  elevate=""
elif command -v pkexec >/dev/null 2>&1 && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  elevate="pkexec"
elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
  elevate="sudo"
else
  fail "installing needs administrator rights, and neither pkexec (on the desktop) nor sudo (in a terminal) can ask for them here. Run this installer as root: su -c '$0'"
fi

echo "Stelvox setup: installing $(basename "$deb")."
# apt-get reads the package as its own unprivileged user; a copy it can reach avoids a
# notice about an unsandboxed download.
copy="$(mktemp -d /tmp/stelvox-setup.XXXXXX)"
trap 'rm -rf "$copy"' EXIT
cp "$deb" "$copy/" && chmod 755 "$copy" && chmod 644 "$copy/$(basename "$deb")"
$elevate env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  "$copy/$(basename "$deb")" || fail "the package manager could not install the package (see above)."
echo "Stelvox setup: done."

# After an update from the program itself: bring it back in the user's session.
if [ "$start" = yes ] && [ "$(id -u)" -ne 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  nohup /usr/bin/stelvox >/dev/null 2>&1 &
fi
exit 0
