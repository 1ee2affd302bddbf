#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# native debug, native release, native with sanitizers, and 64-bit and 32-bit Windows
# programs under Wine. The whole output of each configuration's tests is kept in
# build/logs/, and a failing step's output is printed.
set -Eeuo pipefail
trap 'echo "test-all: FAIL at line $LINENO: $BASH_COMMAND" >&2' ERR
cd "$(dirname "$0")/.."
root=$(pwd)
logs=$root/build/logs
mkdir -p "$logs"

# Runs a step with its output in build/logs/NAME.log, printed only when the step fails.
quiet() {
  local name=$1
  shift
  "$@" >"$logs/$name.log" 2>&1 || {
    cat "$logs/$name.log" >&2
    echo "test-all: $* failed; its output is in build/logs/$name.log" >&2
    return 1
  }
}

# Debian packages the build and the tests need, installed only when missing. The 32-bit
# Windows programs run under the 32-bit half of Wine, from Debian's i386 architecture.
packages=(cmake ninja-build g++ libgtest-dev googletest pkg-config dpkg-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine wine32:i386
          clang-14 libclang-rt-14-dev libinih-dev libsimpleini-dev libicu-dev nsis strace
          clang-format groff-base man-db)
[[ " $(dpkg --print-foreign-architectures | tr '\n' ' ') " == *" i386 "* ]] || dpkg --add-architecture i386
. scripts/ensure-packages.sh
ensure_packages "${packages[@]}"

# The Windows tests settle their Wine prefix themselves (build/wine-prefix, the fixture
# of cmake/wine/settle); the wrapper in cmake/wine picks the loader this kernel can run.
export PATH="$root/cmake/wine:$PATH"
export WINEDEBUG=-all

presets=(native release asan windows windows32)
# A kernel built without 32-bit support cannot start 32-bit programs, Wine's loader for
# them included: there the 32-bit Windows programs are built but cannot be tested.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "== windows32: skipped, this kernel cannot run 32-bit programs"
  presets=(native release asan windows)
fi

jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "== $preset: configure, build, test"
  options=(-DINI_REQUIRE_TESTS=ON)
  tiers=()
  # The release build also builds the benchmarks (on the library it tests, instead of a
  # build of its own), and runs the fast tier: the slow one checks Install on the real disk
  # and the packages, which the debug and sanitized builds have checked already.
  if [ "$preset" = release ]; then
    options+=(-DINI_BENCHMARKS=ON)
    tiers=(-LE slow)
  fi
  quiet "$preset-configure" cmake --preset "$preset" "${options[@]}"
  cmake --build --preset "$preset" -j "$jobs"
  if ! ctest --preset "$preset" "${tiers[@]}" --output-log "$logs/$preset-tests.log"; then
    echo "test-all: tests of $preset failed; their whole output is in build/logs/$preset-tests.log" >&2
    exit 1
  fi
done

# The loader and the writer take the widest kernel the processor has. The library's tests
# run again on each scalar path: the reference (byte by byte) and the portable kernel.
for path in reference portable; do
  echo "== asan: the library's tests on the $path scan path"
  if ! INI_SCAN=$path ctest --preset asan -j "$jobs" -R '^(ini_test|fuzz_corpus_test|install_test)$' \
    --output-log "$logs/asan-$path-tests.log"; then
    echo "test-all: tests on the $path path failed; see build/logs/asan-$path-tests.log" >&2
    exit 1
  fi
done

echo "== fuzz: each target briefly, from the corpora in the repo"
fuzz/run.sh "${FUZZ_SECONDS:-60}"

