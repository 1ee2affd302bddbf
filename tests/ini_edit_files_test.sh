#!/usr/bin/env bash
# ini-edit and ini-check on real files, as people meet them: runs at the same time on one
# file (each waits its turn, none undoes another's edit), a file reached through a symbolic
# link (the link stays, the file it leads to is edited), and names with characters the ANSI
# code page lacks (the file typed is the one edited, never a look-alike); a FIFO or a device
# is refused without blocking. Run on the native programs, and on the Windows ones under
# Wine, which follows the Linux links.
# Usage: ini_edit_files_test.sh PROGRAM_DIR [EMULATOR...]
set -Eeuo pipefail
trap 'echo "ini_edit_files_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
programs=$1
shift
emulator=("$@")
suffix=
[ ${#emulator[@]} -gt 0 ] && suffix=.exe
edit=("${emulator[@]}" "$programs/ini-edit$suffix")
check=("${emulator[@]}" "$programs/ini-check$suffix")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() {
  echo "ini_edit_files_test: FAIL: $*" >&2
  exit 1
}
export LANG=C.UTF-8  # what a user's terminal passes: UTF-8 names

# Four runs at a time, each setting its own keys one run after another. Every run says it
# saved, and every key is in the file: none was lost to another's store. Fewer under Wine,
# where a run costs a tenth of a second.
runs=100
[ ${#emulator[@]} -gt 0 ] && runs=15
printf '; shared\n[s]\n' >shared.ini
for writer in 1 2 3 4; do
  (
    for ((i = 0; i < runs; ++i)); do
      status=0
      "${edit[@]}" shared.ini --set s "w${writer}k$i" v </dev/null >/dev/null 2>"err$writer" || status=$?
      [ "$status" = 0 ] || { echo "status $status: $(cat "err$writer")" >&2; exit 1; }
    done
  ) &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a run at the same time as others failed"; done
keys=$(grep -c '=v$' shared.ini)
[ "$keys" = $((4 * runs)) ] || fail "$keys keys of $((4 * runs)) are in the file"

# A file reached through a link: edited where the link leads, and the link stays a link.
mkdir real conf
printf '[s]\nk = old ; why\nother=1\n' >real/config.ini
ln -s ../real/config.ini conf/config.ini
"${edit[@]}" conf/config.ini --set s k new </dev/null
[ -L conf/config.ini ] || fail "the link became a file"
[ "$(cat real/config.ini)" = $'[s]\nk = new ; why\nother=1' ] || fail "the file the link leads to: $(cat real/config.ini)"

# Names the ANSI code page lacks: α reaches an ANSI program as "a", € as byte 0x80.
printf '[s]\nk=plain a\n' >a.ini
printf '[s]\nk=alpha\n' >α.ini
"${edit[@]}" α.ini --set s k changed </dev/null
[ "$(cat α.ini)" = $'[s]\nk=changed' ] || fail "α.ini: $(cat α.ini)"
[ "$(cat a.ini)" = $'[s]\nk=plain a' ] || fail "a.ini was changed: $(cat a.ini)"
"${edit[@]}" €uro.ini --set s k v </dev/null
[ "$(cat €uro.ini)" = $'[s]\nk=v' ] || fail "€uro.ini was not made"
printf '[s]\nbroken\n' >β.ini
status=0
"${check[@]}" β.ini </dev/null >/dev/null 2>check.err || status=$?
[ "$status" = 1 ] || fail "ini-check β.ini: status $status, expected 1 for its broken line"
out=$("${check[@]}" a.ini </dev/null 2>&1) || fail "ini-check a.ini: $out"
listing=$(LC_ALL=C ls | tr '\n' ' ')
[ "$listing" = "a.ini check.err conf err1 err2 err3 err4 real shared.ini α.ini β.ini €uro.ini " ] ||
  fail "files beside them: $listing"

# What is no regular file: a FIFO no one writes and a link to /dev/zero are refused at once
# (status 3), for reading and for editing, instead of waiting for a writer or reading without
# end; each stays what it was.
mkfifo pipe.ini
ln -s /dev/zero zero.ini
for name in pipe.ini zero.ini; do
  for operation in "--get s k" "--set s k v"; do
    status=0
    timeout 30 "${edit[@]}" "$name" $operation </dev/null >/dev/null 2>special.err || status=$?
    [ "$status" = 3 ] || fail "ini-edit $name $operation: status $status: $(cat special.err)"
  done
done
[ -p pipe.ini ] && [ -L zero.ini ] || fail "the FIFO or the link to /dev/zero was replaced"

# Another program holding the file's lock past the wait (flock(1) takes the same lock), and
# a file no one may write (immutable, which binds root too): statuses 4 and 5, each with
# the file as it was. Native only: a Linux lock does not bind Wine's.
if [ ${#emulator[@]} -eq 0 ]; then
  before=$(cat shared.ini)
  exec 9<shared.ini
  flock 9  # the lock stays with this shell's descriptor until it is closed
  status=0
  "${edit[@]}" shared.ini --set s late v 2>held.err || status=$?
  exec 9<&-
  [ "$status" = 4 ] || fail "a lock held past the wait: status $status: $(cat held.err)"
  [ "$(cat held.err)" = "shared.ini: error: not saved: another program held the file's edit lock past the wait" ] ||
    fail "a lock held past the wait: $(cat held.err)"
  [ "$(cat shared.ini)" = "$before" ] || fail "the file changed though its lock was held"
  if chattr +i shared.ini 2>/dev/null; then
    status=0
    "${edit[@]}" shared.ini --set s k v 2>immutable.err || status=$?
    chattr -i shared.ini
    [ "$status" = 5 ] || fail "an immutable file: status $status: $(cat immutable.err)"
    [ "$(cat shared.ini)" = "$before" ] || fail "an immutable file changed"
  else
    echo "an unwritable file: skipped, chattr +i needs root on a file system that has it"
  fi
fi
echo "ini_edit_files_test: every run saved, links kept, names reached as typed"
