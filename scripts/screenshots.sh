#!/usr/bin/env bash
# Pictures of the real program's windows under a virtual X server, for
# checking that every caption fits and every skin reads well.
#
#   scripts/screenshots.sh [--lang en|gb|jp ...] [--skin N ...] [--main-only] [--out DIR]
#   scripts/screenshots.sh --readme
#
# Each language and skin pair runs in a temporary copy of the program folder
# (build/) whose config.ini selects them; PNGs land in DIR (default
# build/screenshots) as <lang>-<skin file>-<window>.png. --readme makes the two
# pictures of README.md in docs/screenshots/. Builds nothing: build the
# program and the driver first, e.g.
#   cmake --build build --target tolvane tolvane_screenshots
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
DRIVER="$BUILD/tools/tolvane_screenshots"
OUT="$BUILD/screenshots"
LANGS=()
SKINS=()
WHAT=all
README=0

SKIN_FILES=(Calmness DiamondBlue DiamondGreen GlassGreen Longhorn MacOS MP10 MSN OneBlue Silver
            SportsBlack SportsBlue Midsummer Emerald Warm XPBlue XPGreen XPSilver)

while (($#)); do
  case "$1" in
    --lang) LANGS+=("$2"); shift 2 ;;
    --skin) SKINS+=("$2"); shift 2 ;;
    --main-only) WHAT=main; shift ;;
    --out) OUT="$2"; shift 2 ;;
    --readme) README=1; shift ;;
    *) echo "usage: $0 [--lang en|gb|jp ...] [--skin 1-18 ...] [--main-only] [--out DIR] | --readme" >&2; exit 2 ;;
  esac
done

for needed in "$DRIVER" "$BUILD/language/en.ini" "$BUILD/skins/Silver.ssk"; do
  if [ ! -e "$needed" ]; then
    echo "missing $needed: build the targets tolvane and tolvane_screenshots first" >&2
    exit 1
  fi
done
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (scripts/setup.sh installs it)" >&2; exit 1; }

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

code_of() {
  case "$1" in
    gb) echo 1 ;;
    en) echo 2 ;;
    jp) echo 3 ;;
    *) echo "unknown language $1" >&2; exit 2 ;;
  esac
}

# shoot <lang> <skin index> <prefix> <main|all> <output folder>
shoot() {
  local lang="$1" skin="$2" prefix="$3" what="$4" out="$5"
  local folder="$WORK/program-$prefix"
  mkdir -p "$folder"
  cp -r "$BUILD/language" "$BUILD/skins" "$folder/"
  printf '[common]\nlanguage=%s\n\n[skin]\nskin=%s\n\n[setting]\noutputFolder=/home/user/Music\n' \
    "$(code_of "$lang")" "$skin" >"$folder/config.ini"
  # A desktop-like DPI and no platform theme, so every run looks the same.
  env -u QT_QPA_PLATFORM -u QT_QPA_PLATFORMTHEME QT_FONT_DPI=96 XDG_CONFIG_HOME="$WORK/xdg" \
    xvfb-run -a -s "-screen 0 1280x1024x24" "$DRIVER" "$folder" "$out" "$prefix" "$what"
}

if ((README)); then
  mkdir -p "$ROOT/docs/screenshots"
  shoot en 10 en-silver main "$WORK/readme"
  shoot jp 2 jp-diamondblue main "$WORK/readme"
  cp "$WORK/readme/en-silver-main.png" "$ROOT/docs/screenshots/main-en-silver.png"
  cp "$WORK/readme/jp-diamondblue-main-run.png" "$ROOT/docs/screenshots/main-jp-diamondblue.png"
  echo "docs/screenshots/main-en-silver.png docs/screenshots/main-jp-diamondblue.png"
  exit 0
fi

((${#LANGS[@]})) || LANGS=(en gb jp)
((${#SKINS[@]})) || SKINS=(10)
mkdir -p "$OUT"
for lang in "${LANGS[@]}"; do
  for skin in "${SKINS[@]}"; do
    name="${SKIN_FILES[$((skin - 1))]:-Silver}"
    shoot "$lang" "$skin" "$lang-$name" "$WHAT" "$OUT"
  done
done
