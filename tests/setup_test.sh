#!/usr/bin/env bash
# The sample distribution's setup program under Wine, as a packager's users meet it:
#   - a silent install into a folder whose path has spaces gives, byte for byte, the tree
#     that Install -s gives when run there directly, and Install found its root from its
#     own path (the setup's log shows the command, with no root);
#   - a second silent install over the first converges to the same tree;
#   - a silent uninstall leaves only what a user added;
#   - a broken distribution (a boot file missing) makes the setup exit non-zero and leaves
#     no half-installed tree.
# Usage: setup_test.sh SOURCE_DIR INSTALL_EXE SETUP_EXE VERSION WORK_DIR EMULATOR...
set -Eeuo pipefail
trap 'echo "setup_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
source=$1 install_exe=$2 setup=$3 version=$4 work=$5
shift 5

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Every file below a folder with a digest of its bytes, in a fixed order.
tree() { (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum); }
# An NSIS uninstaller returns at once and goes on from a copy of itself in the temporary
# folder (~nsu1.tmp\Un.exe here, Au_.exe in other versions): wait for such copies, not for
# the Wine server, which the test command keeps running. The full path matches only a copy
# that still runs; one that ended lingers under its bare name.
wait_for_uninstallers() {
  for _ in $(seq 600); do
    [ -n "$(pgrep -f 'nsu[^ ]*\.tmp.(Un|Au_)[^ ]*\.exe' || true)" ] || return 0
    sleep 0.1
  done
}
run() {  # the exit status of a Windows program, which is waited for
  local status=0
  "$@" >"$work/out" 2>&1 </dev/null || status=$?
  wait_for_uninstallers
  echo "$status"
}
# Runs a setup silently into a folder. NSIS takes /D= only last and unquoted, spaces and
# all, which Wine's own quoting of arguments would spoil: cmd passes the line as it is,
# and start /wait waits for the setup and gives its exit status.
run_setup() {
  local setup=$1 into=$2
  shift 2
  run "$@" cmd /c "start /wait \"\" $(winepath -w "$setup") /S /D=$(winepath -w "$into")"
}
# Fails, saying $4, unless the text $3 has a line that grep with the options $1 matches
# to the pattern $2. The text is in hand first: `command | grep -q` fails now and then,
# when grep quits at its first match and the command, still writing, dies of SIGPIPE.
log_has() {
  grep -q "$1" -e "$2" <<<"$3" || fail "$4; the log is:
$3"
}
setup_log() {  # what the setup logged, with CR LF folded
  local temp
  temp=$("$@" cmd /c echo %TEMP% </dev/null | tr -d '\r')
  tr -d '\r' <"$(winepath -u "$temp")/Quorva 4.0.1 setup.log"
}

wait_for_uninstallers  # an earlier run's may still be at work
rm -rf "$work"
mkdir -p "$work"
folder="$work/Program Files/Quorva Sample"
windows_folder=$(winepath -w "$folder")

# The reference: the tree and Install.exe unpacked into that folder by hand, and Install -s
# run there with no root argument.
mkdir -p "$folder"
cp -r "$source/examples/sample-dist/." "$folder/"
cp "$install_exe" "$folder/Install.exe"
[ "$(run "$@" "$folder/Install.exe" -s)" = 0 ] || fail "Install -s run directly"
reference=$(tree "$folder")
rm -rf "$work/Program Files"

for round in first second; do
  [ "$(run_setup "$setup" "$folder" "$@")" = 0 ] || fail "$round silent install"
  [ -f "$folder/uninstall.exe" ] || fail "no uninstaller after the $round install"
  [ "$(tree "$folder" | grep -v ' \./uninstall\.exe$')" = "$reference" ] ||
    fail "the $round install's tree differs from Install -s run directly"
done
expected_command="Running: \"$windows_folder\\Install.exe\" -s"
log=$(setup_log "$@")
log_has -xF "$expected_command" "$log" "the log does not show: $expected_command"
log_has -x 'Exit status: 0' "$log" "the log does not show the exit status"

echo "notes" >"$folder/notes.txt"
echo "mine" >"$folder/bin/mine.txt"
[ "$(run "$@" "$folder/uninstall.exe" /S)" = 0 ] || fail "silent uninstall"
left=$(cd "$work/Program Files" && find . | LC_ALL=C sort | tr '\n' ' ')
[ "$left" = ". ./Quorva Sample ./Quorva Sample/bin ./Quorva Sample/bin/mine.txt ./Quorva Sample/notes.txt " ] ||
  fail "the uninstall left: $left"

broken=$work/broken-dist
cp -r "$source/examples/sample-dist" "$broken"
rm "$broken/releases/26/launch_tolbe.boot"
"$source/packaging/nsis/make-setup.sh" "$broken" "$install_exe" "$work/broken-setup.exe" "$version"
broken_folder="$work/Program Files/Broken Sample"
[ "$(run_setup "$work/broken-setup.exe" "$broken_folder" "$@")" != 0 ] ||
  fail "a broken distribution installed with status 0"
[ ! -e "$broken_folder" ] || fail "a failed install left: $(cd "$broken_folder" && find . | tr '\n' ' ')"
log_has -G 'Could not find file .*launch_tolbe\.boot' "$(setup_log "$@")" \
  "the log does not show what Install said"
echo "setup: ok"
