#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted as .clang-format asks, naming each place.
# Skipped (exit 77) where clang-format is not installed.
#   format_test.sh SOURCE_DIR [CLANG_FORMAT]
set -euo pipefail
src=$1
clangFormat=${2:-clang-format}
if ! command -v "$clangFormat" >/dev/null 2>&1; then
  echo "clang-format is not installed; skipped"
  exit 77
fi
cd "$src"

files=()
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
  # The files git tracks (and that are still there), so build folders and stray copies never count.
  while IFS= read -r -d '' f; do
    [ -f "$f" ] && files+=("$f")
  done < <(git ls-files -z -- '*.cpp' '*.h')
else
  # A source tree without git (an unpacked archive): the project's own folders.
  while IFS= read -r -d '' f; do
    files+=("$f")
  done < <(find app bench core editor framework fuzz kernel model monitor res sim statement tests vmsg \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print0 2>/dev/null | sort -z)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "no C++ files found in $src"
  exit 1
fi

echo "$("$clangFormat" --version), ${#files[@]} files"
if ! "$clangFormat" --dry-run --Werror "${files[@]}"; then
  echo "Not formatted; fix with: $clangFormat -i FILE..."
  exit 1
fi
