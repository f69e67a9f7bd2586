#!/usr/bin/env bash
# Builds the update installer beside the package: StelvoxSetup_V<version>.run, a
# self-extracting archive that installs the package, and its minisign signature
# (.minisig) when a secret key is given. Usage: release.sh <package folder> [key]
set -euo pipefail

dist="${1:-build/dist}"
key="${2:-}"
debs=("$dist"/stelvox_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "release.sh: expected exactly one package in $dist; run 'make package' first." >&2
  exit 1
fi
deb="${debs[0]}"
version="$(dpkg-deb -f "$deb" Version)"
run="$dist/StelvoxSetup_V$version.run"

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cp "$deb" "$(dirname "$0")/../packaging/release/setup.sh" "$stage/"
# --nox11: the program starts the installer without a terminal; setup.sh asks for rights
# with pkexec's own dialog instead of a terminal window.
makeself --quiet --nox11 --sha256 "$stage" "$run" "Stelvox V$version" ./setup.sh >/dev/null
echo "release.sh: $run"

rm -f "$run.minisig"
if [ -n "$key" ]; then
  minisign -S -s "$key" -m "$run" -x "$run.minisig" -t "StelvoxSetup_V$version.run"
  echo "release.sh: $run.minisig"
fi
