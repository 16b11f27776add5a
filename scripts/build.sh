#!/usr/bin/env bash
# Configures (once) and builds the program folder in build/.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
# TOLVANE_WERROR=ON (as CI sets it) turns every compiler warning into an error.
if [ -n "${TOLVANE_WERROR:-}" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DTOLVANE_WERROR="$TOLVANE_WERROR" >/dev/null
fi
cmake --build "$BUILD" -j2
