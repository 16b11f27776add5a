#!/usr/bin/env bash
# Wall time of libm9s against the stock ffmpeg program on the same clip and
# the same settings (MP3 128 kbit/s and WAV, 44100 Hz, stereo).
# Prints the hyperfine medians and the ratio libm9s / ffmpeg for each.
#
#   benchmarks/encoder_vs_ffmpeg.sh [--runs N] [--minutes M]
#
# The clip (H.264 video, 48 kHz stereo AAC) is made once and kept in
# build/benchmarks/. Targets: MP3 ratio <= 1.00, WAV ratio <= 0.95.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
LIBM9S="${LIBM9S:-$BUILD/libm9s}"
DATA="${TOLVANE_BENCH_DIR:-$BUILD/benchmarks}"
RUNS=5
MINUTES=20

while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --minutes) MINUTES="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--minutes M]" >&2; exit 2 ;;
  esac
done

for tool in ffmpeg hyperfine python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done
[ -x "$LIBM9S" ] || { echo "no encoder at $LIBM9S (build the libm9s target first)" >&2; exit 1; }

mkdir -p "$DATA"
SECONDS_LONG=$((MINUTES * 60))
CLIP="$DATA/clip-${MINUTES}min.mp4"
if [ ! -s "$CLIP" ]; then
  echo "Making a ${MINUTES}-minute clip: $CLIP"
  # Two tones and some noise per channel, so the MP3 encoder has real work.
  AUDIO="aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*1003*t)+0.05*(random(0)*2-1)|0.3*sin(2*PI*554*t)+0.2*sin(2*PI*1500*t)+0.05*(random(1)*2-1):s=48000:d=$SECONDS_LONG"
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=320x240:rate=25:duration=$SECONDS_LONG" -f lavfi -i "$AUDIO" \
    -c:v libx264 -preset ultrafast -crf 32 -c:a aac -b:a 160k -shortest "$CLIP.part.mp4"
  mv "$CLIP.part.mp4" "$CLIP"
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

run_pair() {  # name libm9s-options ffmpeg-options extension
  local name="$1" ours="$2" theirs="$3" ext="$4"
  hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/$name.json" \
    -n "libm9s $name" "'$LIBM9S' -i '$CLIP' -y $ours '$WORK/ours.$ext' </dev/null" \
    -n "ffmpeg $name" "ffmpeg -nostdin -hide_banner -loglevel error -y -i '$CLIP' $theirs '$WORK/theirs.$ext'"
}

run_pair mp3 "-f mp3 -vn -ab 128 -ar 44100 -ac 2" "-f mp3 -vn -b:a 128k -ar 44100 -ac 2" mp3
run_pair wav "-f wav -vn -ab 128 -ar 44100 -ac 2" "-f wav -vn -ar 44100 -ac 2" wav

python3 - "$WORK" <<'PY'
import json, sys, os
print()
print("%-6s %14s %14s %8s %8s" % ("format", "libm9s median", "ffmpeg median", "ratio", "target"))
ok = True
for name, target in (("mp3", 1.00), ("wav", 0.95)):
    results = json.load(open(os.path.join(sys.argv[1], name + ".json")))["results"]
    ours, theirs = results[0]["median"], results[1]["median"]
    ratio = ours / theirs
    ok = ok and ratio <= target
    print("%-6s %13.3fs %13.3fs %8.3f %8.2f%s" % (name, ours, theirs, ratio, target, "" if ratio <= target else "  (above target)"))
sys.exit(0 if ok else 3)
PY
