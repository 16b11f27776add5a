#!/bin/sh
# Makes the Debian package of the build folder ($1) in a folder of its own
# ($2), as `cpack -G DEB` does for a release, and fails on every error or
# warning lintian finds in it.
set -e
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log"
  exit 1
fi
lintian --fail-on error,warning --display-level ">=warning" "$out"/*.deb
