#!/usr/bin/env bash
# Installs the build into a staged prefix, then builds and runs a small C consumer against
# it, through find_package (from a C-only project, and from one with C++ too) and through
# pkg-config, and a C++ one through find_package; the C and C++ examples of docs/library.md
# against it; the C consumer once more building the library from source inside its C-only
# project through add_subdirectory, which must give it the library alone; checks that
# libini.a defines nothing outside its own names, and that a configure without GoogleTest
# says so; and makes the release packages, unpacks each, checks what it holds and builds
# the C consumer against it.
# Usage: packaging_test.sh BUILD_DIR SOURCE_DIR WORK_DIR [COMPILER_FLAGS]
#        packaging_test.sh --windows BUILD_DIR SOURCE_DIR WORK_DIR C_COMPILER EMULATOR...
# COMPILER_FLAGS are those the library was built with (sanitizers, say); the consumer
# needs them too. With --windows only the Windows zip is checked: its consumer is built
# with C_COMPILER and runs under EMULATOR.
set -Eeuo pipefail
# No step fails without a trace: a failing command names its line, and the checks below say
# what they checked.
trap 'echo "packaging_test: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
fail() {
  echo "packaging_test: FAIL: $*" >&2
  exit 1
}
# Runs a command with its output kept aside, shown only when it fails.
quiet() {
  "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2; fail "$*"; }
}
# Fails unless the text $2 is $3, showing both.
same() {
  [ "$2" = "$3" ] || fail "$1: expected [$3], got [$2]"
}
# Fails unless the text $2 has the line $3. (Never `command | grep -q`: grep quits at the
# first match, and a command still writing then dies of SIGPIPE, failing the pipeline now
# and then.)
has_line() {
  grep -Fqx -- "$3" <<<"$2" || fail "$1: no line [$3] in [$2]"
}
windows=false
if [ "$1" = --windows ]; then
  windows=true
  shift
fi
build=$1 source=$2 work=$3
shift 3
rm -rf "$work"
mkdir -p "$work"

# Makes the packages of the build into $work/packages.
make_packages() {
  quiet cpack --config "$build/CPackConfig.cmake" -B "$work/packages"
  rm -rf "$work/packages/_CPack_Packages"
}

# Fails unless the files (not directories) listed in the file $2, made relative, are
# exactly the rest of the arguments; the build type in the name of a CMake file shows as
# CONFIG. $1 says what was listed.
expect_files() {
  local what=$1 listing=$2
  shift 2
  sed -e 's|^\./||' -e 's|^usr/||' -e 's|iniTargets-[a-z]*\.cmake|iniTargets-CONFIG.cmake|' \
    "$listing" | grep -v -e '/$' -e '^$' | sort >"$work/files.got" || true
  printf '%s\n' "$@" | sort >"$work/files.expected"
  diff "$work/files.got" "$work/files.expected" >&2 || fail "$what holds other files than expected (diff above: < got, > expected)"
}

# The archives unpack into one folder named as the archive: fails otherwise, and writes
# the paths inside that folder to the file $3. $1 is the listing, $2 the folder's name.
inside_top_folder() {
  local listing=$1 name=$2
  if grep -v -e "^$name/" -e "^$name\$" -e '^$' "$listing" >&2; then
    fail "paths outside the folder $name (above)"
  fi
  sed "s|^$name/||" "$listing" >"$3"
}

dev_files=(include/ini/ini.h include/ini/ini.hpp lib/libini.a lib/pkgconfig/ini.pc
           lib/cmake/ini/iniConfig.cmake lib/cmake/ini/iniConfigVersion.cmake
           lib/cmake/ini/iniTargets.cmake lib/cmake/ini/iniTargets-CONFIG.cmake)

if $windows; then
  make_packages
  cc_windows=$1
  shift
  zip=$(echo "$work"/packages/*-win*.zip)
  top=$(basename "$zip" .zip)
  cmake -E tar tf "$zip" >"$work/zip.list"
  inside_top_folder "$work/zip.list" "$top" "$work/zip.files"
  expect_files "the zip" "$work/zip.files" "${dev_files[@]}" bin/Install.exe bin/ini-check.exe bin/ini-edit.exe \
    share/man/man1/ini-check.1 share/man/man1/ini-edit.1 README.md LICENSE docs/library.md
  mkdir -p "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$zip")
  cmp "$work/zip/$top/LICENSE" "$source/LICENSE" || fail "the zip's LICENSE differs"
  quiet "$cc_windows" -I"$work/zip/$top/include" "$source/tests/consumer/consumer.c" \
    -L"$work/zip/$top/lib" -lini -lstdc++ -static -o "$work/consumer.exe"
  said=$(cd "$work" && "$@" ./consumer.exe a.ini | tr -d '\r')
  same "the consumer of the zip" "$said" "consumer ok"
  exit 0
fi
flags=${1:-}
prefix=$work/prefix

quiet cmake --install "$build" --prefix "$prefix"
for installed in bin/Install bin/ini-check bin/ini-edit include/ini/ini.h include/ini/ini.hpp \
                 share/man/man1/ini-check.1 share/man/man1/ini-edit.1; do
  [ -f "$prefix/$installed" ] || fail "cmake --install made no $installed"
done
# The library ships the library: none of Install's own platform code (keeping to a root,
# copies, the sweep of leftovers, its own path) is in it.
install_code=$(nm -C "$prefix"/lib*/libini.a | grep -E 'ConfineTo|CopyReplacing|RemoveLeftovers|OwnProgramPath|TreeFileSystem|::Locate\(' || true)
[ -z "$install_code" ] || fail "libini.a holds Install's code: $install_code"

# Everything libini.a defines for other objects is an ini_ function or lies in the
# project's namespace (AddressSanitizer marks its globals with __odr_asan. and their
# mangled names). Weak definitions (V, W: inline copies of the C++ runtime's
# functions, merged at link time) may only name the runtime's namespaces.
symbols=$(nm -g --defined-only -C "$prefix"/lib*/libini.a | grep -E '^[0-9a-f]+ [A-Z] ' || true)
stray=$( (printf '%s\n' "$symbols" | grep -E '^[0-9a-f]+ [^VW] ' |
            grep -vE ' (ini_[a-z_]+|.*quorva::.*|__odr_asan\._ZN6quorva.*)$'
          printf '%s\n' "$symbols" | grep -E '^[0-9a-f]+ [VW] .*::' |
            grep -vE '(std|__gnu_cxx|__cxxabiv1|quorva)::') || true)
[ -z "$stray" ] || fail "libini.a defines names outside its own:
$stray"

for consumer in consumer consumer_c; do
  quiet cmake -S "$source/tests/$consumer" -B "$work/cmake-$consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags"
  quiet cmake --build "$work/cmake-$consumer"
  same "the $consumer project" "$("$work/cmake-$consumer/consumer" "$work/a.ini")" "consumer ok"
done
same "the C++ consumer" "$("$work/cmake-consumer/cxx_consumer" "$work/settings.ini" "$work")" "c++ consumer ok"

# Without GoogleTest a configure says what to install and builds without the tests, unless
# the tests were asked for.
quiet cmake -S "$source" -B "$work/no-gtest" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
grep -Fq 'GoogleTest was not found, so the tests are not built: install GoogleTest' "$work/step.log" ||
  fail "a configure without GoogleTest does not say what to install: $(cat "$work/step.log")"
if cmake -S "$source" -B "$work/no-gtest-required" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
     -DINI_REQUIRE_TESTS=ON >"$work/step.log" 2>&1; then
  fail "a configure that requires the tests passed without GoogleTest"
fi

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name ini.pc)")
quiet cc $flags $(pkg-config --cflags ini) "$source/tests/consumer/consumer.c" -o "$work/pc-consumer" \
  $(pkg-config --libs ini)
same "the consumer built with pkg-config" "$("$work/pc-consumer" "$work/b.ini")" "consumer ok"

# The examples of the user's guide, taken from the page itself so that what is shown is
# what compiles: the fenced block after each "compiled by ... as NAME" marker.
awk -v dir="$work" '
  /<!-- compiled by tests\/packaging_test.sh as / { name = $(NF - 1); next }
  name != "" && /^```/ { if (open) { open = 0; name = "" } else open = 1; next }
  open { print > (dir "/" name) }
' "$source/docs/library.md"
for example in library_example.c library_example.cc library_scan.c; do
  [ -s "$work/$example" ] || fail "docs/library.md has no example marked as $example"
done
printf '[Install]\nVSN = 4.0.1\n' > "$work/Install.ini"
quiet cc $flags $(pkg-config --cflags ini) "$work/library_example.c" -o "$work/c-example" \
  $(pkg-config --libs ini)
quiet c++ -std=c++17 $flags $(pkg-config --cflags ini) "$work/library_example.cc" -o "$work/cxx-example" \
  $(pkg-config --libs ini)
same "the guide's C example" "$("$work/c-example" "$work/Install.ini")" \
  "$(printf 'VSN is 4.0.1\nno [server] section to change\nVSN at 0: 4.0.1\n[Install]\nVSN=4.0.1\n[quorva]\nProgname=qrv')"
has_line "the guide's C++ example" "$("$work/cxx-example" "$work/Install.ini")" "VSN is 4.0.1"
has_line "the guide's C++ example, run again" "$("$work/cxx-example" "$work/Install.ini")" "run 2"
quiet cc $flags $(pkg-config --cflags ini) "$work/library_scan.c" -o "$work/scan-example" \
  $(pkg-config --libs ini)
printf '[a]\nbad\n' > "$work/bad.ini"
same "the guide's line-by-line example" "$("$work/scan-example" "$work/Install.ini" 2>&1)" \
  "$(printf 'Install.VSN = 4.0.1\nstate.runs = 2')"
same "the guide's line-by-line example on a bad file" "$("$work/scan-example" "$work/bad.ini" 2>&1 || true)" \
  "2:1: expected a key line 'key = value' or a section header '[name]'"
same "the guide's C example on a bad file" "$("$work/c-example" "$work/bad.ini" 2>&1 || true)" \
  "$work/bad.ini:2:1: expected a key line 'key = value' or a section header '[name]'"
has_line "the guide's C++ example on a first run" "$("$work/cxx-example" "$work/first.ini")" "run 1"
[ -f "$work/first.ini" ] || fail "the guide's C++ example saved no settings on its first run"
same "the guide's C++ example on a bad file" "$("$work/cxx-example" "$work/bad.ini" 2>&1 || true)" \
  "$work/bad.ini:2:1: expected a key line 'key = value' or a section header '[name]'"

quiet cmake -S "$source/tests/consumer_subdir" -B "$work/subdir-consumer" -G Ninja \
  -DINI_SOURCE_DIR="$source" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags"
quiet cmake --build "$work/subdir-consumer"
# The library's own tests, programs and install rules stay out of a project that only uses it.
for built in ini/ini/ini_test ini/install/Install ini/install/ini-check; do
  [ ! -e "$work/subdir-consumer/$built" ] || fail "$built was built inside the consumer's project"
done
# Nothing of this project's enters the consumer's cache, and no target but the library.
cached=$(grep -E '^(INI_|BUILD_TESTING|DART_|CTEST_)' "$work/subdir-consumer/CMakeCache.txt" | grep -v '^INI_SOURCE_DIR:' || true)
[ -z "$cached" ] || fail "the consumer's cache gained: $cached"
cmake --build "$work/subdir-consumer" --target help >"$work/targets"
grep -E '^(Continuous|Experimental|Nightly)' "$work/targets" >&2 && fail "the consumer gained CTest's dashboard targets (above)"
quiet cmake --install "$work/subdir-consumer" --prefix "$work/subdir-prefix"
(cd "$work/subdir-prefix" && find . -type f) >"$work/subdir.files"
expect_files "the consumer's install" "$work/subdir.files" bin/consumer
same "the consumer built through add_subdirectory" "$("$work/subdir-consumer/consumer" "$work/c.ini")" \
  "consumer ok"

# The release packages: a .tar.gz and a Debian package of the library, the checker, the
# guide and the licence.
make_packages
deb=$(echo "$work"/packages/*.deb)
tgz=$(echo "$work"/packages/*.tar.gz)
top=$(basename "$tgz" .tar.gz)
documents=(share/doc/libquorva-ini-dev/copyright share/doc/libquorva-ini-dev/README.md
           share/doc/libquorva-ini-dev/docs/library.md bin/ini-check bin/ini-edit
           share/man/man1/ini-check.1 share/man/man1/ini-edit.1)
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/deb.files"
expect_files "the Debian package" "$work/deb.files" "${dev_files[@]}" "${documents[@]}"
tar tzf "$tgz" >"$work/tgz.list"
inside_top_folder "$work/tgz.list" "$top" "$work/tgz.files"
expect_files "the .tar.gz" "$work/tgz.files" "${dev_files[@]}" "${documents[@]}"
version=$(sed -n 's/^project(quorva_install VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
same "the Debian package's fields" "$(dpkg-deb -f "$deb" Package Version Section Depends)" \
  "$(printf 'Package: libquorva-ini-dev\nVersion: %s\nSection: libdevel\nDepends: %s' "$version" \
     'libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)')"
maintainer=$(dpkg-deb -f "$deb" Maintainer)
[[ "$maintainer" =~ ^.+\ \<.+@.+\>$ ]] || fail "the Debian package's maintainer: $maintainer"
mkdir -p "$work/deb" "$work/tgz"
dpkg-deb -x "$deb" "$work/deb"
tar xzf "$tgz" -C "$work/tgz"
for root in "$work/deb/usr" "$work/tgz/$top"; do
  quiet "$root/bin/ini-check" "$work/a.ini"
  for page in ini-check ini-edit; do
    shown=$(MANWIDTH=80 man -l "$root/share/man/man1/$page.1" 2>&1)
    [[ "$shown" == *SYNOPSIS*"$page"* ]] || fail "man -l shows no page for $page in $root: $shown"
  done
  same "the packaged ini-edit" "$("$root/bin/ini-edit" "$work/a.ini" --get consumer path)" 'C:\a;b'
  cmp "$root/share/doc/libquorva-ini-dev/copyright" "$source/LICENSE" ||
    fail "the copyright file in $root differs from LICENSE"
  export PKG_CONFIG_PATH=$root/lib/pkgconfig
  quiet cc $flags $(pkg-config --cflags ini) "$source/tests/consumer/consumer.c" \
    -o "$work/package-consumer" $(pkg-config --libs ini)
  same "the consumer of the package in $root" "$("$work/package-consumer" "$work/d.ini")" "consumer ok"
done
