#!/usr/bin/env bash
# The C and C++ sources of the tree as clang-format leaves them (.clang-format, Google base).
# Usage: format_test.sh CLANG_FORMAT SOURCE_DIR
set -Eeuo pipefail
clang_format=$1
cd "$2"
mapfile -t sources < <(find ini install platform tools tests fuzz bench examples \
  \( -name '*.c' -o -name '*.cc' -o -name '*.h' -o -name '*.hpp' \) -type f | LC_ALL=C sort)
[ ${#sources[@]} -gt 50 ] || { echo "format_test: FAIL: only ${#sources[@]} sources found" >&2; exit 1; }
if ! out=$("$clang_format" --dry-run -Werror "${sources[@]}" 2>&1); then
  printf '%s\n' "$out" | head -40 >&2
  echo "format_test: FAIL: run clang-format -i on the files above" >&2
  exit 1
fi
echo "format: ${#sources[@]} sources as clang-format leaves them"
