#!/usr/bin/env bash
# Fuzzes the encoder libm9s: builds it with AddressSanitizer and
# UndefinedBehaviorSanitizer (as test-encoder-sanitized.sh does), makes seed
# files with ffmpeg (many containers and codecs, float PCM, several tracks,
# odd rates), mutates them with a fixed random seed and converts every
# mutant to MP3, to WAV and, in turn, to FLAC, M4A, Opus, Ogg or a copy into
# the container of its codec, with the output check on, under a time and
# memory limit. Reports crashes (signals, sanitizer reports), hangs, exit
# statuses other than 0 and 1, an exit status 0 whose output does not
# decode or is far shorter (under half) than what ffmpeg decodes of the
# source, and one whose decoded length differs from a one-thread run of the
# same input and options (the runs use every core, so longer files are cut
# into segments). One mutation joins two seeds as `cat a b` does. Exits 1
# when anything was found; the mutants that found something are kept in the
# findings folder.
#
#   scripts/fuzz-encoder.sh [--mutants N] [--seed S] [--jobs J] [--timeout SECONDS]
#                           [--memory MIB] [--findings DIR] [--encoder PATH]
#
# --encoder runs a given libm9s instead of building the sanitized one.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_ASAN_BUILD_DIR:-$ROOT/build-asan}"
MUTANTS=300
SEED=1
JOBS=2
TIMEOUT=20
MEMORY=2048
FINDINGS="$ROOT/build/fuzz-findings"
ENCODER=""

while (($#)); do
  case "$1" in
    --mutants) MUTANTS="$2"; shift 2 ;;
    --seed) SEED="$2"; shift 2 ;;
    --jobs) JOBS="$2"; shift 2 ;;
    --timeout) TIMEOUT="$2"; shift 2 ;;
    --memory) MEMORY="$2"; shift 2 ;;
    --findings) FINDINGS="$2"; shift 2 ;;
    --encoder) ENCODER="$2"; shift 2 ;;
    *) sed -n '2,21p' "$0" >&2; exit 2 ;;
  esac
done

if [ -z "$ENCODER" ]; then
  # A folder configured from another checkout or layout is made anew.
  if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$ROOT/libm9s" "$BUILD/CMakeCache.txt"; then
    rm -rf "$BUILD"
  fi
  if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT/libm9s" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_SANITIZE=ON >/dev/null
  fi
  cmake --build "$BUILD" --target libm9s -j2 >/dev/null
  ENCODER="$BUILD/libm9s"
fi
ENCODER="$(realpath "$ENCODER")"
mkdir -p "$FINDINGS"
FINDINGS="$(realpath "$FINDINGS")"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/seeds"
cd "$WORK/seeds"

# Seeds: short, so that a mutant converts in a fraction of a second.
ff() { ffmpeg -nostdin -v error -y "$@"; }
seed() {  # name, then ffmpeg output options: skipped when this ffmpeg lacks the codec
  local name="$1"; shift
  ff "$@" "$name" 2>/dev/null || { rm -f "$name"; echo "  (no seed $name: this ffmpeg cannot make it)"; }
}
STEREO=(-f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)|0.4*sin(2*PI*660*t)+0.1*random(0):s=44100:d=0.6")
MONO8K=(-f lavfi -i "sine=f=300:r=8000:d=0.6")
ODD=(-f lavfi -i "aevalsrc=0.6*sin(2*PI*500*t):s=11025:d=0.6")
HIGH=(-f lavfi -i "aevalsrc=0.3*sin(2*PI*1000*t)|0.3*cos(2*PI*1000*t):s=96000:d=0.4")
SURROUND=(-f lavfi -i "aevalsrc=0.2*sin(2*PI*200*t)|0.2*sin(2*PI*300*t)|0.2*sin(2*PI*400*t)|0.05*sin(2*PI*60*t)|0.2*sin(2*PI*500*t)|0.2*sin(2*PI*600*t):s=48000:d=0.5")
VIDEO=(-f lavfi -i "testsrc=size=64x48:rate=25:duration=0.6")

echo "Making seeds in $WORK/seeds"
seed pcm.wav "${STEREO[@]}" -c:a pcm_s16le
seed float.wav "${STEREO[@]}" -c:a pcm_f32le
seed double.wav "${ODD[@]}" -c:a pcm_f64le
seed u8-8k.wav "${MONO8K[@]}" -c:a pcm_u8
seed adpcm-ms.wav "${STEREO[@]}" -c:a adpcm_ms
seed ima.wav "${MONO8K[@]}" -c:a adpcm_ima_wav
seed alaw.wav "${MONO8K[@]}" -c:a pcm_alaw
seed s24-96k.wav "${HIGH[@]}" -c:a pcm_s24le
seed surround.wav "${SURROUND[@]}" -c:a pcm_s16le
seed tone.aiff "${STEREO[@]}" -c:a pcm_s16be
seed mulaw.au "${MONO8K[@]}" -c:a pcm_mulaw
seed tone.w64 "${ODD[@]}" -c:a pcm_s32le
seed tone.caf "${STEREO[@]}" -c:a pcm_s16le
seed tone.voc "${MONO8K[@]}" -c:a pcm_u8
seed tone.mp3 "${STEREO[@]}" -c:a libmp3lame -b:a 96k
seed mono-11k.mp3 "${ODD[@]}" -c:a libmp3lame -b:a 32k
seed tone.mp2 "${STEREO[@]}" -c:a mp2
seed tone.ogg "${STEREO[@]}" -c:a libvorbis
seed opus.ogg "${STEREO[@]}" -c:a libopus
seed speex.ogg "${MONO8K[@]}" -c:a libspeex
seed tone.flac "${ODD[@]}" -c:a flac
seed surround.flac "${SURROUND[@]}" -c:a flac
seed tone.m4a "${STEREO[@]}" -c:a aac
seed alac.m4a "${STEREO[@]}" -c:a alac
seed tone.ac3 "${SURROUND[@]}" -c:a ac3
seed tone.eac3 "${STEREO[@]}" -c:a eac3
seed tone.dts "${STEREO[@]}" -strict -2 -c:a dca
seed tone.wv "${STEREO[@]}" -c:a wavpack
seed tone.tta "${STEREO[@]}" -c:a tta
seed tone.mka "${SURROUND[@]}" -c:a libvorbis
seed tone.gsm "${MONO8K[@]}" -c:a libgsm
seed g722.wav -f lavfi -i "sine=f=300:r=16000:d=0.6" -c:a g722
seed tone.spx "${MONO8K[@]}" -c:a libspeex
seed clip.avi "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg4 -c:a libmp3lame
seed pcm.avi "${VIDEO[@]}" "${MONO8K[@]}" -c:v mjpeg -c:a pcm_s16le
seed clip.mpg "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg1video -c:a mp2 -f mpeg
seed clip.vob "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg2video -c:a ac3 -ar 48000 -f vob
seed clip.ts "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg2video -c:a aac
seed ac3.ts "${SURROUND[@]}" -c:a ac3
# Long enough to be cut into segments (two of a second at least), alone and
# joined with another.
LONG=(-f lavfi -i "aevalsrc=0.4*sin(2*PI*440*t)|0.3*sin(2*PI*550*t)+0.1*random(0):s=48000:d=3")
seed long-mp2.ts "${LONG[@]}" -c:a mp2
seed long-aac.ts "${LONG[@]}" -c:a aac
seed long.wav "${LONG[@]}" -c:a pcm_s16le
seed clip.mp4 "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg4 -c:a aac
seed clip.mov "${VIDEO[@]}" "${HIGH[@]}" -c:v mjpeg -c:a pcm_s24le
seed clip.3gp "${VIDEO[@]}" "${MONO8K[@]}" -c:v h263 -s 128x96 -c:a aac
seed clip.mkv "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg4 -c:a libvorbis
seed tracks.mkv "${VIDEO[@]}" "${STEREO[@]}" "${MONO8K[@]}" -map 0 -map 1 -map 2 -c:v mpeg4 -c:a:0 aac -c:a:1 libopus
seed float.mkv "${STEREO[@]}" -c:a pcm_f32le
seed clip.webm "${VIDEO[@]}" "${STEREO[@]}" -c:v libvpx -c:a libopus
seed clip.wmv "${VIDEO[@]}" "${STEREO[@]}" -c:v wmv2 -c:a wmav2 -f asf
seed wma1.asf "${STEREO[@]}" -c:a wmav1
seed nelly.flv "${VIDEO[@]}" "${MONO8K[@]}" -c:v flv1 -c:a nellymoser
seed mp3.flv "${VIDEO[@]}" "${ODD[@]}" -c:v flv1 -c:a libmp3lame
seed tone.swf "${VIDEO[@]}" -f lavfi -i "sine=r=22050:d=0.6" -c:v flv1 -c:a libmp3lame
seed clip.nut "${VIDEO[@]}" "${STEREO[@]}" -c:v mpeg4 -c:a pcm_s16le
seed tone.rm "${STEREO[@]}" -c:a ac3 -f rm
seed tone.dv -f lavfi -i "testsrc=size=720x576:rate=25:duration=0.2" -f lavfi -i "sine=r=48000:d=0.2" -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2
ls | wc -l | sed 's/$/ seeds/'

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:exitcode=86:hard_rss_limit_mb=$MEMORY:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"
python3 "$ROOT/scripts/fuzz_encoder.py" --encoder "$ENCODER" --seeds "$WORK/seeds" --work "$WORK" \
  --mutants "$MUTANTS" --seed "$SEED" --jobs "$JOBS" --timeout "$TIMEOUT" --memory "$MEMORY" --findings "$FINDINGS"
