#!/usr/bin/env bash
# Sets up the machine, builds, and starts Tolvane from the build folder.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/setup.sh"
"$ROOT/scripts/build.sh"
exec "${TOLVANE_BUILD_DIR:-$ROOT/build}/tolvane"
