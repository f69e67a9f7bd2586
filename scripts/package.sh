#!/usr/bin/env bash
# Wraps a build into the Debian package (CPack) and checks it: lintian, the desktop
# entry and the AppStream description. Usage: package.sh <build folder> <output folder>
set -euo pipefail

build="${1:-build}"
out="${2:-$build/dist}"
if [ ! -f "$build/CPackConfig.cmake" ]; then
  echo "package.sh: $build is no configured build folder; run 'make build' first." >&2
  exit 1
fi
mkdir -p "$out"
rm -f "$out"/stelvox_*.deb
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$build/cpack.log" 2>&1 || {
  cat "$build/cpack.log" >&2
  exit 1
}
rm -rf "$out/_CPack_Packages"
deb="$(ls "$out"/stelvox_*.deb)"
echo "package.sh: $deb"

check="$(mktemp -d)"
trap 'rm -rf "$check"' EXIT
dpkg-deb -x "$deb" "$check"
desktop-file-validate "$check/usr/share/applications/stelvox.desktop"
appstreamcli validate --no-net --explain "$check"/usr/share/metainfo/*.metainfo.xml >/dev/null || {
  appstreamcli validate --no-net "$check"/usr/share/metainfo/*.metainfo.xml >&2
  exit 1
}
echo "package.sh: desktop entry and AppStream description valid."
# Errors fail the package; every warning left is justified in the overrides file. A
# sanitized build's package (install tests only) skips this with STELVOX_PACKAGE_CHECKS=validators.
if [ "${STELVOX_PACKAGE_CHECKS:-all}" = all ]; then
  lintian --fail-on error,warning "$deb"
  echo "package.sh: lintian found no error or warning."
fi
