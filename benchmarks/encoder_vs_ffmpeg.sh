#!/usr/bin/env bash
# Wall time of libm9s against the stock ffmpeg program on the same clip and
# the same settings (MP3, M4A, Opus and Ogg Vorbis at 128 kbit/s, FLAC and
# WAV; 44100 Hz stereo, Opus 48000 Hz) and for the audio copied as it is.
# Prints the hyperfine medians and the ratio libm9s / ffmpeg for each; then
# what the output check (-verify) costs for MP3 and WAV: the ratio of
# libm9s with it to libm9s without.
# "loudness": the MP3 brought to -16 LUFS in two passes, against our own
# one-pass MP3 and against ffmpeg's two-pass loudnorm (measure, then apply
# the measured values in linear mode) on the same file.
#
#   benchmarks/encoder_vs_ffmpeg.sh [--runs N] [--minutes M] [--only NAME,...]
#
# The clip (H.264 video, 48 kHz stereo AAC) is made once and kept in
# build/benchmarks/. Targets: WAV ratio <= 0.95, every other one <= 1.00;
# the check at most +10 % for MP3, +25 % for WAV; loudness: <= 1.50 of our
# one pass, <= 1.00 of ffmpeg's loudnorm.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
LIBM9S="${LIBM9S:-$BUILD/libm9s}"
DATA="${TOLVANE_BENCH_DIR:-$BUILD/benchmarks}"
RUNS=5
MINUTES=20
ONLY=copy,mp3,wav,flac,m4a,opus,ogg,mp3-verify,wav-verify,loudness

while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --minutes) MINUTES="$2"; shift 2 ;;
    --only) ONLY="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--minutes M] [--only NAME,...]" >&2; exit 2 ;;
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
  [[ ",$ONLY," == *",$name,"* ]] || return 0
  hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/$name.json" \
    -n "libm9s $name" "'$LIBM9S' -i '$CLIP' -y $ours '$WORK/ours.$ext' </dev/null" \
    -n "ffmpeg $name" "ffmpeg -nostdin -hide_banner -loglevel error -y -i '$CLIP' $theirs '$WORK/theirs.$ext'"
}

run_pair copy "-vn -acodec copy" "-vn -acodec copy" m4a
run_pair mp3 "-f mp3 -vn -ab 128 -ar 44100 -ac 2" "-f mp3 -vn -b:a 128k -ar 44100 -ac 2" mp3
run_pair wav "-f wav -vn -ab 128 -ar 44100 -ac 2" "-f wav -vn -ar 44100 -ac 2" wav
run_pair flac "-f flac -vn -ab 128 -ar 44100 -ac 2" "-vn -c:a flac -sample_fmt s16 -ar 44100 -ac 2" flac
run_pair m4a "-f m4a -vn -ab 128 -ar 44100 -ac 2" "-vn -c:a aac -b:a 128k -ar 44100 -ac 2 -f ipod" m4a
run_pair opus "-f opus -vn -ab 128 -ar 48000 -ac 2" "-vn -c:a libopus -b:a 128k -ar 48000 -ac 2" opus
run_pair ogg "-f ogg -vn -ab 128 -ar 44100 -ac 2" "-vn -c:a libvorbis -b:a 128k -ar 44100 -ac 2" ogg

run_check() {  # name libm9s-options extension: the same conversion with and without -verify
  local name="$1-verify" ours="$2" ext="$3"
  [[ ",$ONLY," == *",$name,"* ]] || return 0
  hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/$name.json" \
    -n "libm9s $name" "'$LIBM9S' -i '$CLIP' -y $ours -verify '$WORK/ours.$ext' </dev/null" \
    -n "libm9s $1" "'$LIBM9S' -i '$CLIP' -y $ours '$WORK/ours.$ext' </dev/null"
}

run_check mp3 "-f mp3 -vn -ab 128 -ar 44100 -ac 2" mp3
run_check wav "-f wav -vn -ab 128 -ar 44100 -ac 2" wav

# ffmpeg's two passes: loudnorm measures, then applies what it measured.
cat >"$WORK/loudnorm.sh" <<'SH'
set -e
clip="$1" out="$2" target="I=-16:TP=-1:LRA=11"
m=$(ffmpeg -nostdin -hide_banner -y -i "$clip" -vn -af "loudnorm=$target:print_format=json" -f null - 2>&1 |
  python3 -c 'import sys, json; t = sys.stdin.read(); j = json.loads(t[t.rindex("{"):]);
print("measured_I=%s:measured_TP=%s:measured_LRA=%s:measured_thresh=%s:offset=%s" % (j["input_i"], j["input_tp"], j["input_lra"], j["input_thresh"], j["target_offset"]))')
ffmpeg -nostdin -hide_banner -loglevel error -y -i "$clip" -vn -af "loudnorm=$target:$m:linear=true" \
  -ar 44100 -ac 2 -c:a libmp3lame -b:a 128k "$out"
SH
if [[ ",$ONLY," == *",loudness,"* ]]; then
  hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/loudness.json" \
    -n "libm9s mp3, one pass" "'$LIBM9S' -i '$CLIP' -y -f mp3 -vn -ab 128 -ar 44100 -ac 2 '$WORK/ours.mp3' </dev/null" \
    -n "libm9s mp3 at -16 LUFS, two passes" \
    "'$LIBM9S' -i '$CLIP' -y -f mp3 -vn -ab 128 -ar 44100 -ac 2 -loudness -16 '$WORK/ours.mp3' </dev/null" \
    -n "ffmpeg loudnorm, two passes" "bash '$WORK/loudnorm.sh' '$CLIP' '$WORK/theirs.mp3'"
fi

python3 - "$WORK" <<'PY'
import json, sys, os
print()
print("%-10s %14s %14s %8s %8s" % ("format", "libm9s median", "reference", "ratio", "target"))
targets = {"wav": 0.95, "mp3-verify": 1.10, "wav-verify": 1.25}
ok = True
for name in ("copy", "mp3", "wav", "flac", "m4a", "opus", "ogg", "mp3-verify", "wav-verify"):
    target = targets.get(name, 1.00)
    path = os.path.join(sys.argv[1], name + ".json")
    if not os.path.exists(path):
        continue
    results = json.load(open(path))["results"]
    ours, theirs = results[0]["median"], results[1]["median"]
    ratio = ours / theirs
    ok = ok and ratio <= target
    print("%-10s %13.3fs %13.3fs %8.3f %8.2f%s" % (name, ours, theirs, ratio, target, "" if ratio <= target else "  (above target)"))
path = os.path.join(sys.argv[1], "loudness.json")
if os.path.exists(path):
    results = json.load(open(path))["results"]
    one, two, loudnorm = (r["median"] for r in results)
    # Processor time beside the wall time: on a machine others share, it is the steadier of the two.
    cpu = [r["user"] + r["system"] for r in results]
    print("%-16s %8s %8s %10s" % ("loudness", "ratio", "target", "cpu ratio"))
    for label, ratio, target, cpuRatio in (("two passes / one", two / one, 1.50, cpu[1] / cpu[0]),
                                           ("ours / loudnorm", two / loudnorm, 1.00, cpu[1] / cpu[2])):
        ok = ok and ratio <= target
        print("%-16s %8.3f %8.2f %10.3f%s" % (label, ratio, target, cpuRatio, "" if ratio <= target else "  (above target)"))
sys.exit(0 if ok else 3)
PY
