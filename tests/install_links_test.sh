#!/usr/bin/env bash
# Install on trees that hold symbolic links, as unpacked archives may. A link that leads out
# of the tree, where the run would write or read, is refused before anything changes, with
# one line that names it; a link that stays in the tree keeps working, and so does a root
# reached through a link. Run on the native program, and on Install.exe under Wine, which
# follows the links of the Linux file system as Windows follows links and junctions.
# Usage: install_links_test.sh INSTALL [EMULATOR...]
set -Eeuo pipefail
trap 'echo "install_links_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
install=$1
shift
emulator=("$@")
mapfile -t launchers < <("$(dirname "$0")/../scripts/launchers.sh")
. "$(dirname "$0")/sample_tree.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "install_links_test: FAIL: $*" >&2
  exit 1
}

# A fresh sample tree in $work/dist, and beside it, outside the tree, a folder with a
# launcher of another installation and a file the tree's owner is not to read.
fresh_tree() {
  rm -rf "$work/dist" "$work/outside" "$work/to-dist"
  sample_tree "$work/dist"
  mkdir -p "$work/outside"
  echo "another installation's" >"$work/outside/qrv.exe"
  echo secret >"$work/outside/secret"
}

# A path as Install shows it: the Windows form under Wine.
shown() {
  if [ ${#emulator[@]} -gt 0 ]; then winepath -w "$1"; else printf '%s' "$1"; fi
}
# Runs Install -s on ROOT; prints the status, keeps standard error (CR LF folded) in $work/err.
run() {
  local status=0
  "${emulator[@]}" "$install" -s "$(shown "$1")" >"$work/out" 2>"$work/err.crlf" </dev/null || status=$?
  tr -d '\r' <"$work/err.crlf" >"$work/err"
  echo "$status"
}
listing() { (cd "$work" && find . -path ./err -prune -o -path ./out -prune -o -path ./err.crlf -prune -o -print |
             LC_ALL=C sort && find outside -type f -exec cat {} +); }

refused() {  # CASE PATH: the run refuses, naming PATH, and changes nothing
  local before status
  before=$(listing)
  status=$(run "$work/dist")
  [ "$status" = 1 ] || fail "$1: status $status, expected 1"
  [ "$(cat "$work/err")" = "Path $(shown "$2") leads outside the root directory $(shown "$work/dist")" ] ||
    fail "$1: the message: $(cat "$work/err")"
  [ "$(listing)" = "$before" ] || fail "$1: the run changed something"
}

fresh_tree
ln -s ../outside "$work/dist/bin"
refused "bin linked out of the tree" "$work/dist/bin"

fresh_tree
mv "$work/dist/qcore-4.0.1/bin" "$work/outside/runtime-bin"
ln -s ../../outside/runtime-bin "$work/dist/qcore-4.0.1/bin"
refused "the runtime's bin linked out of the tree" "$work/dist/qcore-4.0.1/bin"

fresh_tree
ln -sf ../../../outside/secret "$work/dist/releases/26/launch_lean.boot"
refused "a boot file linked out of the tree" "$work/dist/releases/26/launch_lean.boot"

fresh_tree
mv "$work/dist/Install.ini" "$work/outside/Install.ini"
ln -s "$work/outside/Install.ini" "$work/dist/Install.ini"
refused "the release description linked out of the tree" "$work/dist/Install.ini"

# Links that stay in the tree, relative and absolute, and a root reached through a link.
fresh_tree
mkdir "$work/dist/qcore-4.0.1/bin-shared"
ln -s qcore-4.0.1/bin-shared "$work/dist/bin"
ln -sf "$work/dist/releases/26/launch_tolbe.boot" "$work/dist/releases/26/launch_lean.boot"
ln -s dist "$work/to-dist"
for root in "$work/dist" "$work/to-dist"; do
  status=$(run "$root")
  [ "$status" = 0 ] || fail "links in the tree, root $root: status $status: $(cat "$work/err")"
done
cmp -s "$work/dist/qcore-4.0.1/bin-shared/launch.boot" "$work/dist/releases/26/launch_tolbe.boot" ||
  fail "launch.boot through the links"
[ "$(ls "$work/dist/qcore-4.0.1/bin-shared" | wc -l)" = $((${#launchers[@]} + 4)) ] || fail "the linked bin holds: $(ls "$work/dist/qcore-4.0.1/bin-shared")"
[ "$(cat "$work/outside/qrv.exe")" = "another installation's" ] || fail "a file outside the tree was written"
echo "links: ok"

# Trees from a hostile archive: a device, a FIFO or a socket where the run reads or writes is
# refused before anything changes, without blocking, and nothing is written into it.
special_refused() {  # CASE PATH: PATH is no regular file; the run refuses it, changing nothing
  local before status
  before=$(find "$work/dist" "$work/outside" -printf '%p %y %s\n' | LC_ALL=C sort)
  status=$(run "$work/dist")
  [ "$status" = 1 ] || fail "$1: status $status, expected 1: $(cat "$work/err")"
  [ "$(cat "$work/err")" = "Not a regular file: $(shown "$2")" ] || fail "$1: the message: $(cat "$work/err")"
  [ "$(find "$work/dist" "$work/outside" -printf '%p %y %s\n' | LC_ALL=C sort)" = "$before" ] ||
    fail "$1: the run changed something"
}
run() {  # under a bound: a run that blocked on a FIFO would hang the test
  local status=0
  timeout 60 "${emulator[@]}" "$install" -s "$(shown "$1")" >"$work/out" 2>"$work/err.crlf" </dev/null || status=$?
  tr -d '\r' <"$work/err.crlf" >"$work/err"
  echo "$status"
}
for at in bin/qrv.exe qcore-4.0.1/bin/qrvc.exe qcore-4.0.1/bin/qrv.ini bin/qrv.ini; do
  fresh_tree
  mkdir -p "$work/dist/bin"
  rm -f "$work/dist/$at"
  mkfifo "$work/dist/$at"
  special_refused "a FIFO at $at" "$work/dist/$at"
done
fresh_tree
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' \
  "$work/dist/releases/26/launch_lean.boot.sock"
rm "$work/dist/releases/26/launch_lean.boot"
mv "$work/dist/releases/26/launch_lean.boot.sock" "$work/dist/releases/26/launch_lean.boot"
special_refused "a socket as a boot file" "$work/dist/releases/26/launch_lean.boot"
if [ "$(id -u)" = 0 ] && loop=$(losetup -f --show "$(dd if=/dev/urandom of="$work/disk.img" bs=1k count=64 status=none && echo "$work/disk.img")" 2>/dev/null); then
  # As a tar unpacked by root keeps it: a block device node at a launcher's name.
  fresh_tree
  mkdir -p "$work/dist/bin"
  mknod "$work/dist/bin/pelox.exe" b "$((0x$(stat -c %t "$loop")))" "$((0x$(stat -c %T "$loop")))"
  sum=$(sha256sum <"$loop")
  special_refused "a block device at bin/pelox.exe" "$work/dist/bin/pelox.exe"
  [ "$(sha256sum <"$loop")" = "$sum" ] || fail "the device's bytes changed"
  losetup -d "$loop"
else
  echo "block device: skipped, making a loop device needs root"
fi
# Links at the names the run writes are replaced, and the files they lead to stay as they were.
fresh_tree
mkdir -p "$work/dist/bin"
ln -s ../../../outside/qrv.exe "$work/dist/qcore-4.0.1/bin/qrv.ini"
ln -s ../../outside/secret "$work/dist/bin/qrv.exe"
status=$(run "$work/dist")
[ "$status" = 0 ] || fail "links at written names: status $status: $(cat "$work/err")"
[ "$(cat "$work/outside/qrv.exe")" = "another installation's" ] || fail "a link at qrv.ini was written through"
[ "$(cat "$work/outside/secret")" = secret ] || fail "a link at bin/qrv.exe was written through"
[ ! -L "$work/dist/bin/qrv.exe" ] && [ ! -L "$work/dist/qcore-4.0.1/bin/qrv.ini" ] || fail "a link stayed"

# Another process swaps bin for a link out of the tree as fast as it can while runs go on:
# nothing is written or removed outside the tree. Bounded in time. Not under Wine: there
# only a Linux process can swap a link in, Windows' sharing rules do not bind it, and Wine
# itself resolves a name relative to a held directory partly through the path that
# directory was opened by, so such a swap can redirect any Windows program's write. What
# holds on Windows, that a held directory cannot be renamed or replaced meanwhile, is
# tested in platform_test (Win32Tree).
if [ ${#emulator[@]} -gt 0 ]; then
  echo "hostile trees: ok; the swap race: skipped under Wine (see the comment above)"
  exit 0
fi
fresh_tree
mkdir -p "$work/dist/bin"
touch -d '2 days ago' "$work/outside/.ini-0123456789abcdef.tmp"
if [ "$(id -u)" = 0 ]; then  # another user's, inside the tree
  touch -d '2 days ago' "$work/dist/bin/.ini-fedcba9876543210.tmp"
  chown 65534:65534 "$work/dist/bin/.ini-fedcba9876543210.tmp"
fi
ln -s ../outside "$work/dist/bin.link"
# Exchanges bin and the link as one step (renameat2 with RENAME_EXCHANGE), so that bin is the
# link half the time and never missing. It ends by itself when this script does, however it ends.
python3 - "$work/dist" "$$" <<'SWAP' &
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
os.chdir(sys.argv[1])
parent = int(sys.argv[2])
while os.getppid() == parent:
    for _ in range(1000):
        libc.renameat2(-100, b"bin", -100, b"bin.link", 2)
SWAP
swapper=$!
trap 'kill "$swapper" 2>/dev/null; rm -rf "$work"' EXIT
outside_before=$(cd "$work/outside" && find . -printf '%p %s\n' | LC_ALL=C sort && cat qrv.exe secret)
runs=0
deadline=$((SECONDS + 6))
while [ "$SECONDS" -lt "$deadline" ] && [ "$runs" -lt 60 ]; do
  run "$work/dist" >/dev/null
  runs=$((runs + 1))
done
kill "$swapper" 2>/dev/null || fail "the swapping process ended early"
wait "$swapper" 2>/dev/null || true
trap 'rm -rf "$work"' EXIT
outside_after=$(cd "$work/outside" && find . -printf '%p %s\n' | LC_ALL=C sort && cat qrv.exe secret)
[ "$outside_after" = "$outside_before" ] || fail "after $runs runs beside a swapping process, outside holds:
$outside_after"
if [ -e "$work/dist/bin.link/.ini-fedcba9876543210.tmp" ] || [ -e "$work/dist/bin/.ini-fedcba9876543210.tmp" ]; then
  :
elif [ "$(id -u)" = 0 ]; then
  fail "another user's temporary-named file in bin was removed"
fi
echo "hostile trees: ok ($runs runs beside a swapping process)"

# What only a POSIX system has, as root with another user owning the tree.
if [ "$(id -u)" != 0 ]; then
  echo "hard links and set-group-ID directories: skipped, they need root and another user"
  exit 0
fi
as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
chmod 755 "$work"
# A bin the user running Install may not write, holding a hard link to another file: the
# copies fail, and nothing is written through the link.
fresh_tree
mkdir -p "$work/dist/bin"
echo "another user's" >"$work/outside/profile"
ln "$work/outside/profile" "$work/dist/bin/qrv.exe"
chown -R 65534:65534 "$work/dist"
chown root:root "$work/dist/bin"
chmod 555 "$work/dist/bin"
status=0
as_user "$install" -s "$work/dist" >"$work/out" 2>"$work/err" </dev/null || status=$?
[ "$status" = 1 ] || fail "a bin that may not be written: status $status: $(cat "$work/err")"
[ "$(cat "$work/outside/profile")" = "another user's" ] || fail "a hard link in bin was written through"
chmod 755 "$work/dist/bin"
# A set-group-ID bin and a source its owner may not read, linked into the tree by its owner
# (where fs.protected_hardlinks allows it): the copy takes the source's group, so the tree's
# owner still may not read it.
protected=$(cat /proc/sys/fs/protected_hardlinks)
echo 0 >/proc/sys/fs/protected_hardlinks
trap 'echo "$protected" >/proc/sys/fs/protected_hardlinks; rm -rf "$work"' EXIT
fresh_tree
echo "for the shadow group only" >"$work/outside/shadowed"
chown root:shadow "$work/outside/shadowed"
chmod 640 "$work/outside/shadowed"
chown -R 65534:65534 "$work/dist"
as_user ln -f "$work/outside/shadowed" "$work/dist/qcore-4.0.1/bin/pelox.exe"
as_user mkdir "$work/dist/bin"
chmod 2775 "$work/dist/bin"
status=$(run "$work/dist")
[ "$status" = 0 ] || fail "a set-group-ID bin: status $status: $(cat "$work/err")"
if as_user cat "$work/dist/bin/pelox.exe" >/dev/null 2>&1; then
  fail "the copy of a file its owner may not read is readable by the tree's owner: $(stat -c '%U:%G %a' "$work/dist/bin/pelox.exe")"
fi
echo "hard links and set-group-ID directories: ok"
