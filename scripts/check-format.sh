#!/usr/bin/env bash
# Fails when a C++ file differs from what clang-format makes of it, and names
# the files. Run scripts/format.sh to apply the layout.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
CLANG_FORMAT="${CLANG_FORMAT:-clang-format-19}"
if ! command -v "$CLANG_FORMAT" >/dev/null; then
  echo "$CLANG_FORMAT is missing: run scripts/setup.sh" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
bad=()
for f in "${files[@]}"; do
  if ! "$CLANG_FORMAT" --dry-run --Werror "$f" >/dev/null 2>&1; then
    bad+=("$f")
  fi
done
if ((${#bad[@]})); then
  echo "Not formatted (run scripts/format.sh):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "All ${#files[@]} C++ files formatted."
