#!/usr/bin/env bash
# Fails when a C/C++ file changed since BASE is not formatted per .clang-format.
# BASE: $ZE_FORMAT_BASE, else the merge base with main; on main itself, the
# parent commit. Files not changed are left to whoever touches them next.
# Usage: scripts/check-format.sh [BASE]
set -euo pipefail
cd "$(dirname "$0")/.."

base=${1:-${ZE_FORMAT_BASE:-}}
if [ -z "$base" ]; then
  base=$(git merge-base HEAD main 2>/dev/null || git rev-parse HEAD)
  [ "$base" = "$(git rev-parse HEAD)" ] && base=$(git rev-parse HEAD^ 2>/dev/null || echo "$base")
fi

mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- \
  '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' | while read -r f; do [ -f "$f" ] && echo "$f"; done)
[ "${#files[@]}" -eq 0 ] && { echo "check-format: no C/C++ file changed since ${base:0:12}"; exit 0; }

if ! clang-format --dry-run --Werror "${files[@]}" 2>/dev/null; then
  clang-format --dry-run "${files[@]}" 2>&1 | grep -o '^[^:]*' | sort -u |
    sed 's/^/check-format: not formatted: /' >&2
  echo "check-format: run clang-format -i on the files above" >&2
  exit 1
fi
echo "check-format: ${#files[@]} changed file(s) formatted"
