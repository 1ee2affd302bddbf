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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "install_links_test: FAIL: $*" >&2
  exit 1
}

# A fresh tree in $work/dist, and beside it, outside the tree, a folder with a launcher of
# another installation and a file the tree's owner is not to read.
fresh_tree() {
  rm -rf "$work/dist" "$work/outside" "$work/to-dist"
  mkdir -p "$work/dist/qcore-4.0.1/bin" "$work/dist/releases/26" "$work/outside"
  printf '[Install]\nVSN=4.0.1\nSYSTEM_VSN=26\n' >"$work/dist/Install.ini"
  for name in "${launchers[@]}"; do
    echo "$name" >"$work/dist/qcore-4.0.1/bin/$name"
  done
  echo lean >"$work/dist/releases/26/launch_lean.boot"
  echo tolbe >"$work/dist/releases/26/launch_tolbe.boot"
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
[ "$(cat "$work/dist/qcore-4.0.1/bin-shared/launch.boot")" = tolbe ] || fail "launch.boot through the links"
[ "$(ls "$work/dist/qcore-4.0.1/bin-shared" | wc -l)" = $((${#launchers[@]} + 4)) ] || fail "the linked bin holds: $(ls "$work/dist/qcore-4.0.1/bin-shared")"
[ "$(cat "$work/outside/qrv.exe")" = "another installation's" ] || fail "a file outside the tree was written"
echo "links: ok"
