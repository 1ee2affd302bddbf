#!/usr/bin/env bash
# Builds the setup program of a distribution tree with NSIS (makensis): the tree and
# Install.exe go into it, listed file by file so that the uninstaller removes exactly them.
# Usage: make-setup.sh DIST_TREE INSTALL_EXE OUTPUT_SETUP VERSION
#   VERSION: of these programs (x.y.z), for the version resource.
set -euo pipefail
dist=$(cd "$1" && pwd)
install_exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
output=$3
version=$4
here=$(cd "$(dirname "$0")" && pwd)

# The runtime version, from the tree's release description (VSN = 4.0.1 ; remark).
vsn=$(sed -n 's/^[[:space:]]*VSN[[:space:]]*=[[:space:]]*\([^;[:space:]]*\).*$/\1/p' "$dist/Install.ini" | head -n 1)
if [ -z "$vsn" ]; then
  echo "make-setup.sh: no VSN in $dist/Install.ini" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# NSIS quotes: a '$' must be doubled; the names inside the setup use '\'.
nsis() { printf '%s' "$1" | sed -e 's/\$/$$/g'; }
windows() { nsis "$1" | tr '/' '\\'; }

{
  echo '!macro UnpackFiles'
  (cd "$dist" && find . -mindepth 1 -type d | sed 's|^\./||' | LC_ALL=C sort) | while read -r d; do
    echo "  CreateDirectory \"\$INSTDIR\\$(windows "$d")\""
  done
  (cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | while read -r f; do
    echo "  File \"/oname=$(windows "$f")\" \"$(nsis "$dist/$f")\""
  done
  echo "  File \"/oname=Install.exe\" \"$(nsis "$install_exe")\""
  echo '!macroend'
  echo '!macro RemoveFiles'
  (cd "$dist" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) | while read -r f; do
    echo "  Delete \"\$INSTDIR\\$(windows "$f")\""
  done
  echo '  Delete "$INSTDIR\Install.exe"'
  # Folders deepest first, and only when empty: what a user added keeps its folder.
  (cd "$dist" && find . -mindepth 1 -type d | sed 's|^\./||' | LC_ALL=C sort -r) | while read -r d; do
    echo "  RMDir \"\$INSTDIR\\$(windows "$d")\""
  done
  echo '!macroend'
  # What Install makes: the root's bin with its files, and qrv.ini in the runtime's bin.
  echo '!macro RemoveWhatInstallMade'
  for name in $("$here/../../scripts/launchers.sh") launch_lean.boot launch_tolbe.boot launch.boot qrv.ini; do
    echo "  Delete \"\$INSTDIR\\bin\\$name\""
  done
  echo '  RMDir "$INSTDIR\bin"'
  echo '  Delete "$INSTDIR\qcore-${VSN}\bin\qrv.ini"'
  echo '!macroend'
} >"$work/files.nsh"

mkdir -p "$(dirname "$output")"
makensis -V2 -DVSN="$vsn" -DVERSION="$version" -DFILES="$work/files.nsh" \
  -DOUTFILE="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")" \
  -DOUTNAME="$(basename "$output")" "$here/setup.nsi" >"$work/makensis.log" ||
  { cat "$work/makensis.log" >&2; exit 1; }
