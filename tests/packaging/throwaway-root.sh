#!/usr/bin/env bash
# Runs a command as root in a throw-away copy of this machine: an overlay over / in a
# mount and process namespace of its own, with an empty /run (no udev daemon, no
# session bus). Whatever the command installs, starts or leaves behind is gone when it
# ends, except in the folder THROWAWAY_KEEP names (screenshots). Exit status 77: this
# machine cannot make such a root (not root, no namespaces).
set -euo pipefail

if [ "$(id -u)" -ne 0 ] || ! unshare --mount --pid --fork true 2>/dev/null; then
  echo "throwaway-root: needs root and mount namespaces" >&2
  exit 77
fi
scratch="$(mktemp -d "${TMPDIR:-/tmp}/stelvox-root.XXXXXX")"
trap 'rmdir "$scratch" 2>/dev/null || true' EXIT

# The namespace's first process ends every process the command leaves running.
unshare --mount --pid --fork --kill-child /bin/sh -s "$scratch" "${THROWAWAY_KEEP:-}" "$@" <<'INNER'
set -e
scratch="$1"
keep="$2"
shift 2
mount --make-rprivate /
mount -t tmpfs -o mode=0755 tmpfs "$scratch"
mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
mount -t overlay overlay -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" \
  "$scratch/root"
mount -t proc proc "$scratch/root/proc"
mount --rbind /dev "$scratch/root/dev"
mount --rbind /sys "$scratch/root/sys"
mount -t tmpfs -o mode=0755 tmpfs "$scratch/root/run"
mkdir -p "$scratch/root/run/lock"
if [ -n "$keep" ]; then
  mkdir -p "$scratch/root$keep"
  mount --bind "$keep" "$scratch/root$keep"
fi
exec chroot "$scratch/root" "$@"
INNER
