#!/usr/bin/env bash
# Installs the build into a staged prefix, then builds and runs a small C consumer against
# it twice, through find_package and through pkg-config; and once more building the library
# from source inside the consumer's project through add_subdirectory.
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
test -f "$prefix/include/ini/ini.h"

cmake -S "$source/tests/consumer" -B "$work/cmake-consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/consumer" "$work/a.ini"

export PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name ini.pc)")
cc $flags $(pkg-config --cflags ini) "$source/tests/consumer/consumer.c" -o "$work/pc-consumer" \
  $(pkg-config --libs ini)
"$work/pc-consumer" "$work/b.ini"

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
