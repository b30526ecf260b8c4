#!/usr/bin/env bash
# Checks every tracked C++ source against the project's .clang-format; lists the files that differ.
# Fix them with: clang-format -i FILE...
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! clang-format --dry-run -Werror "${files[@]}" 2> "$log"; then
  grep -o '^[^:]*\.\(cpp\|h\)' "$log" | sort -u | sed 's/^/  not formatted: /' >&2
  echo "Source formatting differs from .clang-format (run clang-format -i on the files above)." >&2
  exit 1
fi
