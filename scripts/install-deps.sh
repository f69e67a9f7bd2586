#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the packaging and `make run` need.
# Quiet and quick when everything is present already.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ninja-build
  qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev
  libhidapi-dev libudev-dev
  clang libclang-rt-14-dev libbenchmark-dev
  umockdev libumockdev-dev gir1.2-umockdev-1.0 python3-gi
  python3-pyftpdlib
  libsodium-dev minisign
  xvfb xauth x11-utils fonts-wqy-microhei
  procps psmisc
  makeself lintian desktop-file-utils appstream fakeroot dpkg-dev file man-db
  trayer xdotool dbus dbus-daemon minisign
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
