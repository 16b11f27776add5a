#!/usr/bin/env bash
# Renders data/icons/tolvane.svg into the PNG sizes the icon theme and the
# window icon use. Run after changing the SVG and commit the results.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" tolvane.svg -o "hicolor/${size}x${size}/apps/tolvane.png"
done
