#!/usr/bin/env bash
# Installs the build into a staged prefix, then builds and runs a small C consumer against
# it twice, through find_package and through pkg-config, and a C++ one through
# find_package; the C and C++ examples of docs/library.md against it; and the C consumer
# once more building the library from source inside its project through add_subdirectory.
# Usage: packaging_test.sh BUILD_DIR SOURCE_DIR WORK_DIR [COMPILER_FLAGS]
# COMPILER_FLAGS are those the library was built with (sanitizers, say); the consumer
# needs them too.
set -euo pipefail
build=$1 source=$2 work=$3 flags=${4:-}
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/Install"
test -x "$prefix/bin/ini-check"
test -f "$prefix/include/ini/ini.h"
test -f "$prefix/include/ini/ini.hpp"

cmake -S "$source/tests/consumer" -B "$work/cmake-consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/consumer" "$work/a.ini"
"$work/cmake-consumer/cxx_consumer"

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
test "$("$work/c-example" "$work/bad.ini" 2>&1)" = "$work/bad.ini:2: expected a key line 'key = value' or a section header '[name]'"

cmake -S "$source/tests/consumer_subdir" -B "$work/subdir-consumer" -G Ninja \
  -DINI_SOURCE_DIR="$source" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/subdir-consumer" >/dev/null
# The library's own tests stay out of a project that only uses it.
if [ -e "$work/subdir-consumer/ini/ini/ini_test" ]; then
  echo "tests were built inside the consumer's project" >&2
  exit 1
fi
"$work/subdir-consumer/consumer" "$work/c.ini"
