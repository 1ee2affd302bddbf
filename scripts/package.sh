#!/usr/bin/env bash
# Builds and makes the release packages into build/packages:
#   scripts/package.sh linux     libquorva-ini-dev-VERSION-Linux.tar.gz and
#                                libquorva-ini-dev_VERSION_ARCH.deb (the library, its headers,
#                                the CMake package, ini.pc, ini-check, the guide and the licence)
#   scripts/package.sh windows   quorva-install-VERSION-win64.zip (Install.exe, ini-check.exe,
#                                the library and its headers, the README, the guide and the licence)
#   scripts/package.sh setup     quorva-sample-VSN-setup.exe: the setup program (NSIS) of the
#                                sample distribution, examples/sample-dist, with Install.exe
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
case "${1:-}" in
  linux) preset=release; ensure_packages cmake ninja-build g++ dpkg-dev ;;
  windows|setup) preset=windows; ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix nsis ;;
  *) echo "usage: scripts/package.sh linux|windows|setup" >&2; exit 2 ;;
esac
# The packages need no tests; a build of the tests may already be there and is kept.
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target Install ini-check ini-edit ini >/dev/null
mkdir -p build/packages
if [ "$1" = setup ]; then
  version=$(sed -n 's/^project(quorva_install VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  vsn=$(sed -n 's/^[[:space:]]*VSN[[:space:]]*=[[:space:]]*\([^;[:space:]]*\).*$/\1/p' examples/sample-dist/Install.ini)
  setup=build/packages/quorva-sample-$vsn-setup.exe
  packaging/nsis/make-setup.sh examples/sample-dist "build/$preset/install/Install.exe" "$setup" "$version"
  echo "package: $setup"
  exit 0
fi
cpack --config "build/$preset/CPackConfig.cmake" -B build/packages | grep 'package:'
rm -rf build/packages/_CPack_Packages
