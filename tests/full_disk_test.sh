#!/usr/bin/env bash
# Install on a nearly full disk, made of small tmpfs mounts (needs root; skipped otherwise):
# a launcher too large for the room left only warns, and leaves the installed launcher
# whole; a qrv.ini that cannot be written leaves the working one whole; neither leaves a
# temporary behind. A directory planted at the name an earlier version used for its
# temporary (NAME.partial) changes none of this.
# Usage: full_disk_test.sh INSTALL [EMULATOR...]   (EMULATOR: to run Install.exe under Wine)
set -Eeuo pipefail
trap 'echo "full_disk_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
install=$1
shift
if [ "$(id -u)" != 0 ]; then
  echo "skipped: mounting a small file system needs root; the test command runs as root in CI,"
  echo "so run it as root (or sudo ctest -R full_disk_test) to see this test pass or fail here"
  exit 77
fi
work=$(mktemp -d)
root=$work/dist
mounts=()
cleanup() {
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
small_disk() {  # DIR SIZE: a file system of SIZE at DIR
  mkdir -p "$1"
  if ! mount -t tmpfs -o "size=$2" tmpfs "$1" 2>/dev/null; then
    echo "skipped: cannot mount a tmpfs here"
    exit 77
  fi
  mounts+=("$1")
}

# The paths as Install prints them.
shown=$root sep=/
if [ $# -gt 0 ]; then
  shown=$(winepath -w "$root" 2>/dev/null)
  sep='\'
fi
show() { printf '%s%s%s' "$shown" "$sep" "${1//\//$sep}"; }
run() {  # the status, then standard error with CR LF folded
  local status=0
  "$@" "$install" -s "$shown" >"$work/out" 2>"$work/err" </dev/null || status=$?
  tr -d '\r' <"$work/err" >"$work/err.lf"
  echo "$status"
}
fail() {
  echo "FAIL: $*" >&2
  cat "$work/err.lf" >&2
  exit 1
}

# The sample tree, with launchers of 4 KiB.
. "$(dirname "$0")/sample_tree.sh"
sample_tree "$root"
for name in $("$(dirname "$0")/../scripts/launchers.sh"); do
  head -c 4096 /dev/urandom >"$root/qcore-4.0.1/bin/$name"
done

# The root's bin on a disk of 256 KiB: a first run fits.
small_disk "$root/bin" 256k
[ "$(run "$@")" = 0 ] || fail "first run"

# A new launcher larger than the room left: a warning, the old launcher whole.
cp "$root/bin/qrvc.exe" "$work/old-qrvc.exe"
mkdir "$root/bin/qrvc.exe.partial"
head -c 400000 /dev/urandom >"$root/qcore-4.0.1/bin/qrvc.exe"
[ "$(run "$@")" = 0 ] || fail "run with a launcher too large"
expected="Could not copy file $(show qcore-4.0.1/bin/qrvc.exe) to $(show bin/qrvc.exe)
Continuing installation anyway..."
[ "$(cat "$work/err.lf")" = "$expected" ] || fail "messages for a launcher too large"
cmp -s "$work/old-qrvc.exe" "$root/bin/qrvc.exe" || fail "the installed launcher was not kept whole"
head -c 4096 /dev/urandom >"$root/qcore-4.0.1/bin/qrvc.exe"

# The runtime's bin on a full disk: qrv.ini cannot be written, the working one is kept.
mkdir -p "$work/sources"
cp -a "$root/qcore-4.0.1/bin/." "$work/sources/"
small_disk "$root/qcore-4.0.1/bin" 128k
cp -a "$work/sources/." "$root/qcore-4.0.1/bin/"
cp "$root/qcore-4.0.1/bin/qrv.ini" "$work/old-qrv.ini"
mkdir "$root/qcore-4.0.1/bin/qrv.ini.partial"
dd if=/dev/zero of="$root/qcore-4.0.1/bin/filler" bs=4096 2>/dev/null || true
[ "$(run "$@")" = 1 ] || fail "run with the runtime's bin full"
expected="Could not create file $(show qcore-4.0.1/bin/qrv.ini)
Cannot continue installation, bailing out."
[ "$(cat "$work/err.lf")" = "$expected" ] || fail "messages for a full runtime bin"
cmp -s "$work/old-qrv.ini" "$root/qcore-4.0.1/bin/qrv.ini" || fail "qrv.ini was not kept whole"

leftovers=$(find "$root" -name '.ini-*.tmp')
[ -z "$leftovers" ] || fail "temporaries left: $leftovers"
[ -d "$root/bin/qrvc.exe.partial" ] && [ -d "$root/qcore-4.0.1/bin/qrv.ini.partial" ] ||
  fail "a planted directory was removed"
echo "full disk: ok"
