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
set -euo pipefail
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
  cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null
  rm -rf "$work/packages/_CPack_Packages"
}

# Fails unless the files (not directories) listed on standard input, made relative, are
# exactly the arguments; the build type in the name of a CMake file shows as CONFIG.
expect_files() {
  diff <(sed -e 's|^\./||' -e 's|^usr/||' -e 's|iniTargets-[a-z]*\.cmake|iniTargets-CONFIG.cmake|' |
           grep -v -e '/$' -e '^$' | sort) \
       <(printf '%s\n' "$@" | sort) >&2
}

# The archives unpack into one folder named as the archive: fails otherwise, and lists
# the paths inside that folder.
inside_top_folder() {
  local name=$1 paths
  paths=$(cat)
  if printf '%s\n' "$paths" | grep -v -e "^$name/" -e "^$name\$" -e '^$' >&2; then
    echo "paths outside the folder $name" >&2
    return 1
  fi
  printf '%s\n' "$paths" | sed "s|^$name/||"
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
  cmake -E tar tf "$zip" | inside_top_folder "$top" |
    expect_files "${dev_files[@]}" bin/Install.exe bin/ini-check.exe README.md LICENSE docs/library.md
  mkdir -p "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$zip")
  cmp "$work/zip/$top/LICENSE" "$source/LICENSE"
  "$cc_windows" -I"$work/zip/$top/include" "$source/tests/consumer/consumer.c" \
    -L"$work/zip/$top/lib" -lini -lstdc++ -static -o "$work/consumer.exe"
  (cd "$work" && "$@" ./consumer.exe a.ini) | tr -d '\r' | grep -qx 'consumer ok'
  exit 0
fi
flags=${1:-}
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/Install"
test -x "$prefix/bin/ini-check"
test -f "$prefix/include/ini/ini.h"
test -f "$prefix/include/ini/ini.hpp"

# Everything libini.a defines for other objects is an ini_ function or lies in the
# project's namespace (AddressSanitizer marks its globals with __odr_asan. and their
# mangled names). Weak definitions (V, W: inline copies of the C++ runtime's
# functions, merged at link time) may only name the runtime's namespaces.
symbols=$(nm -g --defined-only -C "$prefix"/lib*/libini.a | grep -E '^[0-9a-f]+ [A-Z] ' || true)
stray=$( (printf '%s\n' "$symbols" | grep -E '^[0-9a-f]+ [^VW] ' |
            grep -vE ' (ini_[a-z_]+|.*quorva::.*|__odr_asan\._ZN6quorva.*)$'
          printf '%s\n' "$symbols" | grep -E '^[0-9a-f]+ [VW] .*::' |
            grep -vE '(std|__gnu_cxx|__cxxabiv1|quorva)::') || true)
if [ -n "$stray" ]; then
  printf 'libini.a defines names outside its own:\n%s\n' "$stray" >&2
  exit 1
fi

for consumer in consumer consumer_c; do
  cmake -S "$source/tests/$consumer" -B "$work/cmake-$consumer" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$work/cmake-$consumer" >/dev/null
  "$work/cmake-$consumer/consumer" "$work/a.ini"
done
"$work/cmake-consumer/cxx_consumer"

# Without GoogleTest a configure says what to install and builds without the tests, unless
# the tests were asked for.
cmake -S "$source" -B "$work/no-gtest" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  >"$work/no-gtest.log" 2>&1
grep -q 'GoogleTest was not found, so the tests are not built: install GoogleTest' "$work/no-gtest.log"
! cmake -S "$source" -B "$work/no-gtest-required" -G Ninja -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DINI_REQUIRE_TESTS=ON >/dev/null 2>&1

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name ini.pc)")
cc $flags $(pkg-config --cflags ini) "$source/tests/consumer/consumer.c" -o "$work/pc-consumer" \
  $(pkg-config --libs ini)
"$work/pc-consumer" "$work/b.ini"

# The examples of the user's guide, taken from the page itself so that what is shown is
# what compiles: the fenced block after each "compiled by ... as NAME" marker.
awk -v dir="$work" '
  /<!-- compiled by tests\/packaging_test.sh as / { name = $(NF - 1); next }
  name != "" && /^```/ { if (open) { open = 0; name = "" } else open = 1; next }
  open { print > (dir "/" name) }
' "$source/docs/library.md"
test -s "$work/library_example.c" && test -s "$work/library_example.cc"
printf '[Install]\nVSN = 4.0.1\n' > "$work/Install.ini"
cc $flags $(pkg-config --cflags ini) "$work/library_example.c" -o "$work/c-example" $(pkg-config --libs ini)
c++ -std=c++17 $flags $(pkg-config --cflags ini) "$work/library_example.cc" -o "$work/cxx-example" \
  $(pkg-config --libs ini)
test "$("$work/c-example" "$work/Install.ini")" = "$(printf 'VSN is 4.0.1\n[Install]\nVSN=4.0.1\n[quorva]\nProgname=qrv')"
"$work/cxx-example" "$work/Install.ini" | grep -qx 'VSN is 4.0.1'
printf '[a]\nbad\n' > "$work/bad.ini"
test "$("$work/c-example" "$work/bad.ini" 2>&1)" = "$work/bad.ini:2:1: expected a key line 'key = value' or a section header '[name]'"
test "$("$work/cxx-example" "$work/missing.ini" 2>&1)" = "$work/missing.ini: cannot open the file: no such file or directory"

cmake -S "$source/tests/consumer_subdir" -B "$work/subdir-consumer" -G Ninja \
  -DINI_SOURCE_DIR="$source" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/subdir-consumer" >/dev/null
# The library's own tests, programs and install rules stay out of a project that only uses it.
for built in ini/ini/ini_test ini/install/Install ini/install/ini-check; do
  if [ -e "$work/subdir-consumer/$built" ]; then
    echo "$built was built inside the consumer's project" >&2
    exit 1
  fi
done
cmake --install "$work/subdir-consumer" --prefix "$work/subdir-prefix" >/dev/null
(cd "$work/subdir-prefix" && find . -type f) | expect_files bin/consumer
"$work/subdir-consumer/consumer" "$work/c.ini"

# The release packages: a .tar.gz and a Debian package of the library, the checker, the
# guide and the licence.
make_packages
deb=$(echo "$work"/packages/*.deb)
tgz=$(echo "$work"/packages/*.tar.gz)
top=$(basename "$tgz" .tar.gz)
documents=(share/doc/libquorva-ini-dev/copyright share/doc/libquorva-ini-dev/README.md
           share/doc/libquorva-ini-dev/docs/library.md bin/ini-check)
dpkg-deb -c "$deb" | awk '{print $6}' | expect_files "${dev_files[@]}" "${documents[@]}"
tar tzf "$tgz" | inside_top_folder "$top" | expect_files "${dev_files[@]}" "${documents[@]}"
version=$(sed -n 's/^project(quorva_install VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
test "$(dpkg-deb -f "$deb" Package Version Section)" = "$(printf 'Package: libquorva-ini-dev\nVersion: %s\nSection: libdevel' "$version")"
dpkg-deb -f "$deb" Maintainer Description | grep -q '^Maintainer: .* <.*@.*>$'
mkdir -p "$work/deb" "$work/tgz"
dpkg-deb -x "$deb" "$work/deb"
tar xzf "$tgz" -C "$work/tgz"
for root in "$work/deb/usr" "$work/tgz/$top"; do
  "$root/bin/ini-check" "$work/a.ini"
  cmp "$root/share/doc/libquorva-ini-dev/copyright" "$source/LICENSE"
  export PKG_CONFIG_PATH=$root/lib/pkgconfig
  cc $flags $(pkg-config --cflags ini) "$source/tests/consumer/consumer.c" \
    -o "$work/package-consumer" $(pkg-config --libs ini)
  "$work/package-consumer" "$work/d.ini"
done
