#!/usr/bin/env bash
# Builds Install, stages a fresh copy of the sample distribution under the build directory,
# runs `Install -s` on it and shows the installed tree and the runtime ini file it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++

cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo --target Install >/dev/null

dist=build/demo/sample-dist
rm -rf "$dist"
cp -a examples/sample-dist "$dist"
root=$(cd "$dist" && pwd)

echo "\$ Install -s $root"
status=0
build/demo/install/Install -s "$root" || status=$?
echo "exit status $status"
echo
echo "Installed files in $root/bin:"
(cd "$root" && ls -l bin | tail -n +2)
echo
echo "bin/launch.boot (the minimal profile's boot file):"
cat "$root/bin/launch.boot"
echo
echo "bin/qrv.ini:"
cat "$root/bin/qrv.ini"
