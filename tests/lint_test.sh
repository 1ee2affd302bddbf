#!/usr/bin/env bash
# Three rules of the tree's structure, each first shown to catch a planted violation:
#   - only the platform backends and their tests (files named *_posix.cc, *_win32.cc, their
#     shared *_posix.h, *_win32.h and their *_test.cc) know the operating system: nowhere
#     else _WIN32, __linux__, <windows.h>, <unistd.h>, <fcntl.h>, <sys/...>, <pthread.h> or
#     <spawn.h>;
#   - outside ini/, no file reaches a header of the library's own but its public ones,
#     ini/ini.h and ini/ini.hpp, and the project's ini/project_internal.h and ini/format.h:
#     the includes are followed through every header, so that none of these lets a
#     private one through;
#   - every source file of ini/, platform/, install/ and tools/ is named, by its path, in
#     docs/map.md, so that the map stays whole;
# and the manual pages are clean for groff -ww.
# bench/ is a Linux program by design and is not checked.
# Usage: lint_test.sh SOURCE_DIR
set -Eeuo pipefail
trap 'echo "lint_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
source_dir=$1
fail() {
  echo "lint_test: FAIL: $*" >&2
  exit 1
}

# Prints what matches the extended regular expression $2 in the C and C++ files of the
# tree at $1 (in the folders checked), less the lines that match $3 (file:line:text).
# Fails if grep itself fails, so that an error never passes for a clean tree.
matches() {
  local tree=$1 pattern=$2 allowed=$3 found status=0
  found=$(cd "$tree" && grep -rnE "$pattern" --include='*.h' --include='*.hpp' --include='*.c' \
            --include='*.cc' ini install platform tools tests fuzz 2>&1) || status=$?
  [ "$status" -le 1 ] || fail "grep failed in $tree: $found"
  printf '%s\n' "$found" | grep -vE "$allowed" | grep -v '^$' || true
}
system_code() {
  matches "$1" '_WIN32|__linux__|<windows\.h>|<unistd\.h>|<fcntl\.h>|<sys/|<pthread\.h>|<spawn\.h>' \
    '^[^:]*_(win32|posix)((_test)?\.cc|\.h):'
}
# The project headers the file $2 of the tree at $1 reaches, each once: what it includes,
# and what those include in turn. A name is looked for from the tree's top, then among the
# public headers.
reached() {
  local tree=$1 todo=("$2") seen=" " file name path
  while [ ${#todo[@]} -gt 0 ]; do
    file=${todo[-1]}
    unset 'todo[-1]'
    while IFS= read -r name; do
      for path in "$name" "ini/include/$name"; do
        [ -f "$tree/$path" ] || continue
        if [[ "$seen" != *" $path "* ]]; then
          seen+="$path "
          todo+=("$path")
          echo "$path"
        fi
        break
      done
    done < <(sed -n 's/^#include "\(.*\)".*/\1/p' "$tree/$file")
  done
}
private_headers() {
  local tree=$1 file path
  while IFS= read -r file; do
    while IFS= read -r path; do
      case "$path" in
        ini/include/* | ini/project_internal.h | ini/format.h) ;;
        ini/*) echo "$file reaches $path" ;;
      esac
    done < <(reached "$tree" "$file")
  done < <(cd "$tree" && find install platform tools tests fuzz -name '*.h' -o -name '*.hpp' \
             -o -name '*.c' -o -name '*.cc' | LC_ALL=C sort)
}
# The source files of the tree at $1 that its docs/map.md does not name.
unmapped() {
  local tree=$1 file
  while IFS= read -r file; do
    grep -qF "\`$file\`" "$tree/docs/map.md" || echo "$file"
  done < <(cd "$tree" && find ini platform install tools -name '*.h' -o -name '*.hpp' \
             -o -name '*.c' -o -name '*.cc' | LC_ALL=C sort)
}

# Each rule catches what it is for: a private header included outside ini/, and one
# reached through a header that may be included.
planted=$(mktemp -d)
trap 'rm -rf "$planted"' EXIT
mkdir -p "$planted"/{ini,install,platform,tools,tests,fuzz}
echo '#include <pthread.h>' >"$planted/install/run.cc"
echo '#include "ini/records.h"' >"$planted/tools/check.cc"
printf '#include "ini/project_internal.h"\n' >"$planted/fuzz/properties.cc"
printf '#include "ini/line_scan.h"\n' >"$planted/ini/project_internal.h"
touch "$planted/ini/records.h" "$planted/ini/line_scan.h"
echo '#ifdef __linux__' >"$planted/platform/platform_posix.cc"  # allowed in a backend
[ -n "$(system_code "$planted")" ] || fail "the system rule misses <pthread.h> outside a backend"
[ "$(system_code "$planted")" = "install/run.cc:1:#include <pthread.h>" ] ||
  fail "the system rule flags a backend: $(system_code "$planted")"
[ "$(private_headers "$planted")" = "fuzz/properties.cc reaches ini/line_scan.h
tools/check.cc reaches ini/records.h" ] ||
  fail "the header rule does not flag exactly the two planted files: $(private_headers "$planted")"
mkdir -p "$planted/docs"
echo '`install/run.cc`, `ini/records.h`' >"$planted/docs/map.md"
[ "$(unmapped "$planted")" = "ini/line_scan.h
ini/project_internal.h
platform/platform_posix.cc
tools/check.cc" ] || fail "the map rule does not flag exactly the unnamed files: $(unmapped "$planted")"

found=$(system_code "$source_dir")
[ -z "$found" ] || fail "system-specific code outside a platform backend:
$found"
found=$(private_headers "$source_dir")
[ -z "$found" ] || fail "a private header of the library reached from outside ini/:
$found"
found=$(unmapped "$source_dir")
[ -z "$found" ] || fail "source files docs/map.md does not name:
$found"
# The manual pages: groff finds nothing to warn of.
for page in "$source_dir"/tools/*/*.1; do
  warnings=$(groff -ww -z -man "$page" 2>&1) || fail "groff failed on $page: $warnings"
  [ -z "$warnings" ] || fail "the manual page $page: $warnings"
done
echo "lint: ok"
