#!/usr/bin/env bash
# Prints the names of the launchers Install copies, one a line, in their order, from the one
# list of them in install/install.h (kLaunchers), for the scripts and shell tests.
set -euo pipefail
header=$(dirname "$0")/../install/install.h
names=$(sed -n '/kLaunchers\[\] = {/,/};/p' "$header" | grep -o '"[^"]*"' | tr -d '"')
[ -n "$names" ] || { echo "launchers.sh: no kLaunchers in $header" >&2; exit 1; }
printf '%s\n' "$names"
