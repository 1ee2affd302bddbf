#!/usr/bin/env bash
# The crash sweep of install_test, sampled on the real POSIX backend: Install runs over an
# earlier installation under strace, which kills it as it enters the N-th call of a system
# call that publishes or flushes a file, or makes that call fail. After a kill, every final
# file holds the earlier installation's bytes or the new ones, whole, and one more run
# (later, so that leftovers are old) gives exactly the tree of a run never stopped. After a
# failure, the files are whole as well and no temporary is left.
# Usage: install_crash_test.sh INSTALL
set -Eeuo pipefail
trap 'echo "install_crash_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
install=$1
if ! command -v strace >/dev/null; then
  echo "skipped: strace is not installed (Debian: apt-get install strace); the test command installs it"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/dist
fail() {
  echo "install_crash_test: FAIL: $*" >&2
  exit 1
}
mapfile -t launchers < <("$(dirname "$0")/../scripts/launchers.sh")
. "$(dirname "$0")/sample_tree.sh"
finals=()
for name in "${launchers[@]}" launch_lean.boot launch_tolbe.boot launch.boot qrv.ini; do finals+=("bin/$name"); done
finals+=(qcore-4.0.1/bin/qrv.ini)

# The sample tree at $root, with launchers of 20,000 bytes (copied in more than one call),
# over which an earlier installation left its files.
earlier_tree() {
  rm -rf "$root"
  sample_tree "$root"
  mkdir -p "$root/bin"
  for name in "${launchers[@]}"; do head -c 20000 /dev/zero | tr '\0' "${name:0:1}" >"$root/qcore-4.0.1/bin/$name"; done
  for final in "${finals[@]}"; do echo "earlier $final" >"$root/$final"; done
}
listing() { (cd "$root" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 sha256sum); }

# The tree a run that is never stopped leaves.
earlier_tree
"$install" -s "$root" </dev/null >/dev/null 2>&1 || fail "a plain run failed"
clean=$(listing)
mkdir -p "$work/new"
for final in "${finals[@]}"; do mkdir -p "$work/new/$(dirname "$final")"; cp "$root/$final" "$work/new/$final"; done

whole() {  # every final file holds the earlier bytes or the new ones
  for final in "${finals[@]}"; do
    [ "$(cat "$root/$final")" = "earlier $final" ] || cmp -s "$root/$final" "$work/new/$final" ||
      fail "$1: $final is neither the earlier file nor the new one"
  done
}

runs=0
# CALL:ACTION:N... each a run of its own.
for plan in renameat:signal=KILL:1-12 linkat:signal=KILL:1-12/2 fsync:signal=KILL:1-24/4 \
            copy_file_range:signal=KILL:1-11/3 renameat:error=EIO:1-12/4 fsync:error=EIO:2-24/7 \
            write:error=ENOSPC:1-1 copy_file_range:error=EIO:3-9/3; do
  IFS=: read -r call action range <<<"$plan"
  first=${range%%-*} rest=${range#*-} last=${rest%%/*} step=1
  [[ "$rest" == */* ]] && step=${rest#*/}
  for ((n = first; n <= last; n += step)); do
    what="$call $action at call $n"
    earlier_tree
    # In a subshell of its own, which takes the shell's word of the kill with its output.
    (strace -o /dev/null -e trace="$call" -e inject="$call:$action:when=$n" "$install" -s "$root" \
       </dev/null || true) >/dev/null 2>&1
    runs=$((runs + 1))
    whole "$what"
    if [[ "$action" == error=* ]]; then
      left=$(find "$root" -name '.ini-*.tmp')
      [ -z "$left" ] || fail "$what: temporaries left: $left"
      continue
    fi
    # The machine comes back later: what the killed run left is old by then.
    find "$root" -name '.ini-*.tmp' -exec touch -d '1 hour ago' {} +
    "$install" -s "$root" </dev/null >/dev/null 2>&1 || fail "$what: the run after it failed"
    [ "$(listing)" = "$clean" ] || fail "$what: the run after it left another tree than a clean run"
  done
done
echo "crash sample: ok ($runs runs)"
