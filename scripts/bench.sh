#!/usr/bin/env bash
# Builds the benchmarks and prints the table: load and store times and peak memory of this
# library, inih, SimpleIni and the two floors, and Install against cp; then plots the load
# times as a PNG.
# Corpora (about 400 MB) are generated once under build/bench-corpora.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/ensure-packages.sh
ensure_packages cmake ninja-build g++ pkg-config libinih-dev libsimpleini-dev libicu-dev gnuplot-nox
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
build/bench/bench/ini_bench build/bench-corpora build/bench/install/Install
gnuplot -e "in='build/bench-corpora/results.tsv'; out='build/bench-corpora/load.png'" bench/plot.gp
echo "plot: build/bench-corpora/load.png"
