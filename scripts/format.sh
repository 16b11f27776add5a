#!/usr/bin/env bash
# Applies the project's layout (.clang-format) to every tracked C++ file.
set -euo pipefail
cd "$(cd "$(dirname "$0")/.." && pwd)"
git ls-files -z '*.cpp' '*.h' | xargs -0 "${CLANG_FORMAT:-clang-format-19}" -i
