#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# native debug, native release, native with sanitizers, and 64-bit and 32-bit Windows
# programs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Debian packages the build and the tests need, installed only when missing. The 32-bit
# Windows programs run under the 32-bit half of Wine, from Debian's i386 architecture.
packages=(cmake ninja-build g++ libgtest-dev googletest pkg-config dpkg-dev
          g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 wine wine32:i386
          clang-14 libclang-rt-14-dev libinih-dev libsimpleini-dev libicu-dev nsis)
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
. scripts/ensure-packages.sh
ensure_packages "${packages[@]}"

# (bench/ is a Linux program by design and is not checked.)
echo "== lint: only platform backends, and their tests, may know the operating system"
if grep -rnE '_WIN32|<windows\.h>|<unistd\.h>|<fcntl\.h>|<sys/' \
     --include='*.h' --include='*.hpp' --include='*.cc' ini install platform tools tests fuzz 2>/dev/null |
   grep -vE '^[^:]*_(win32|posix)(_test)?\.cc:'; then
  echo "lint: system-specific code outside a backend file" >&2
  exit 1
fi

# Wine gets a private prefix, a server started before any piped run, and a clean end.
export WINEPREFIX="$root/build/wine-prefix"
export WINEDEBUG=-all
stop_wine() { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
trap stop_wine EXIT
stop_wine  # a server left over from an earlier run would refuse to start again
# A prefix made before 32-bit Wine was installed cannot run 32-bit programs.
[ -d "$WINEPREFIX/drive_c/windows" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ] && rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
wineserver -p
wine wineboot -i </dev/null >/dev/null 2>&1

jobs=$(nproc)
for preset in native release asan windows windows32; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" -DINI_REQUIRE_TESTS=ON >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== fuzz: each target briefly, from the corpora in the repo"
fuzz/run.sh "${FUZZ_SECONDS:-60}"

echo "== bench: builds (run it with scripts/bench.sh)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs" >/dev/null
