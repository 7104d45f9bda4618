#!/usr/bin/env bash
# desktop-file-validate on the desktop entry: any error, warning or hint fails (the tool itself
# fails on errors only).
set -euo pipefail
entry=$1
command -v desktop-file-validate >/dev/null || { echo "desktop-file-validate is not installed: skipped"; exit 77; }
out=$(desktop-file-validate "$entry" 2>&1) || { echo "$out"; exit 1; }
[ -z "$out" ] || { echo "$out"; exit 1; }
echo "valid: $entry"
