#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tolvane need.
# Quiet and quick when everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev libebur128-dev libjemalloc-dev
  ffmpeg
  xvfb xauth imagemagick
  fonts-noto-cjk fonts-dejavu-core qt6-translations-l10n
  hyperfine time flac parallel
  clang-format-19
  dpkg-dev desktop-file-utils appstream librsvg2-bin man-db groff-base shared-mime-info lintian
  iso-codes
  python3 python3-mutagen
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "These packages are missing: ${missing[*]}" >&2
      echo "Run this script as root, or install sudo, to install them." >&2
      exit 1
    fi
    SUDO="sudo"
  fi
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
