#!/usr/bin/env bash
# Builds the encoder libm9s on its own with AddressSanitizer and
# UndefinedBehaviorSanitizer (in build-asan/, or $TOLVANE_ASAN_BUILD_DIR)
# and runs it on damaged, truncated, empty, mislabelled and audio-less files,
# plus normal ones and a stopped conversion. Fails on any sanitizer report,
# on a crash, and on an exit status other than the expected one.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_ASAN_BUILD_DIR:-$ROOT/build-asan}"

# A folder configured from another checkout or layout is made anew.
if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$ROOT/libm9s" "$BUILD/CMakeCache.txt"; then
  rm -rf "$BUILD"
fi
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$ROOT/libm9s" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_SANITIZE=ON >/dev/null
fi
cmake --build "$BUILD" --target libm9s -j2 >/dev/null
ENCODER="$BUILD/libm9s"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:exitcode=86:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:exitcode=86"

ff() { ffmpeg -nostdin -v error -y "$@"; }
VIDEO=(-f lavfi -i "testsrc=size=176x144:rate=25:duration=1.5")
tone() { echo "aevalsrc=0.4*sin(2*PI*440*t)|0.4*sin(2*PI*660*t):s=$1:d=1.5"; }
# Deterministic noise bytes (the same in every run) for damaging files.
noise() { ffmpeg -nostdin -v error -f lavfi -i "anoisesrc=seed=$2:r=44100:d=60" -af "atrim=end_sample=$1" -f u8 -ac 1 -; }
damage() {  # file seed: overwrite a tenth of the file from 40 % on
  local size; size=$(stat -c %s "$1")
  noise $((size / 10)) "$2" | dd of="$1" bs=1 seek=$((size * 2 / 5)) conv=notrunc status=none
}
cut_half() { head -c $(($(stat -c %s "$1") / 2)) "$1" >"$2"; }
le() {  # value bytes: little-endian bytes on standard output
  local i; for ((i = 0; i < $2; i++)); do printf "\\x$(printf %02x $((($1 >> (8 * i)) & 255)))"; done
}
hostile_wav() {  # from to rate channels: a WAV header claiming another rate or channel count
  local fmt; fmt=$(grep -obUa 'fmt ' "$1" | head -1 | cut -d: -f1)
  cp "$1" "$2"
  { le "$4" 2; le "$3" 4; le $(($3 * $4 * 2)) 4; le $(($4 * 2)) 2; } |
    dd of="$2" bs=1 seek=$((fmt + 10)) conv=notrunc status=none
}

echo "Making fixtures in $WORK"
ff "${VIDEO[@]}" -f lavfi -i "$(tone 44100)" -c:v mpeg4 -c:a libmp3lame clip.avi
ff "${VIDEO[@]}" -f lavfi -i "$(tone 44100)" -c:v mpeg1video -c:a mp2 -f mpeg clip.mpg
ff "${VIDEO[@]}" -f lavfi -i "$(tone 48000)" -c:v mpeg4 -c:a libvorbis clip.mkv
ff "${VIDEO[@]}" -f lavfi -i "$(tone 48000)" -c:v mpeg4 -c:a aac clip.mp4
ff "${VIDEO[@]}" -f lavfi -i "$(tone 44100)" -c:v wmv2 -c:a wmav2 -f asf clip.wmv
ff -f lavfi -i "aevalsrc=0.3*sin(2*PI*440*t)|0.3*sin(2*PI*550*t)|0.3*sin(2*PI*660*t)|0.1*sin(2*PI*60*t)|0.3*sin(2*PI*770*t)|0.3*sin(2*PI*880*t):s=48000:d=1.5" \
   -c:a ac3 -channel_layout 5.1 surround.mkv
ff "${VIDEO[@]}" -c:v mpeg4 noaudio.mp4
ff -f lavfi -i "sine=f=440:r=8000:d=600" -c:a pcm_s16le long.mkv
for f in clip.avi clip.mpg clip.mkv clip.mp4; do
  cut_half "$f" "cut-$f"
  cp "$f" "damaged-$f"; damage "damaged-$f" 7
done
: >empty.avi
printf 'This is not a video.\n' >text.avi
noise 262144 1 >garbage.mpg
{ printf 'RIFF\x10\0\0\0AVI LIST'; noise 262144 2; } >garbage.avi
{ printf '\x1a\x45\xdf\xa3'; noise 262144 3; } >garbage.mkv
ff -f lavfi -i "$(tone 44100)" -c:a pcm_s16le tone.wav
hostile_wav tone.wav rate-1hz.wav 1 2
hostile_wav tone.wav rate-2ghz.wav 2000000000 2
hostile_wav tone.wav channels-100.wav 44100 100
hostile_wav tone.wav channels-65535.wav 44100 65535
# Timestamps 60 years into the file, read with a start offset.
ff -f lavfi -i "$(tone 44100)" -output_ts_offset 2000000000 -c:a pcm_s16le late.mkv
# Timestamps at the 64-bit limit: a timeline starting just short of it, an
# Ogg whose last granule is absurd (checksum put right, so the page counts).
ff -f lavfi -i "$(tone 44100)" -output_ts_offset 9223372036853 -c:a pcm_s16le limit.mkv
ff -f lavfi -i "$(tone 44100)" -c:a aac limit.ts
ff -f lavfi -i "$(tone 48000)" -c:a libvorbis granule.ogg
last_granule() {  # ogg granule: the last page claims granule
  local page; page=$(grep -obUa 'OggS' "$1" | tail -1 | cut -d: -f1)
  le "$2" 8 | dd of="$1" bs=1 seek=$((page + 6)) conv=notrunc status=none
  printf '\0\0\0\0' | dd of="$1" bs=1 seek=$((page + 22)) conv=notrunc status=none
  le "$(tail -c +$((page + 1)) "$1" | ogg_crc)" 4 | dd of="$1" bs=1 seek=$((page + 22)) conv=notrunc status=none
}
ogg_crc() {  # CRC-32 of standard input, polynomial 0x04c11db7, not reflected
  od -An -v -tu1 | tr -s ' ' '\n' | grep -v '^$' | {
    local crc=0 byte i
    while read -r byte; do
      crc=$((crc ^ (byte << 24)))
      for ((i = 0; i < 8; i++)); do
        if ((crc & 0x80000000)); then crc=$((((crc << 1) ^ 0x04c11db7) & 0xffffffff)); else crc=$(((crc << 1) & 0xffffffff)); fi
      done
    done
    echo "$crc"
  }
}
last_granule granule.ogg $((0x7ffffffffffffff0))
# Float samples no encoder may see: a NaN in the middle, a sine at 1e8.
ff -f lavfi -i "$(tone 44100)" -c:a pcm_f32le float.wav
cp float.wav nan.wav
printf '\0\0\xc0\x7f' | dd of=nan.wav bs=1 seek=$(($(grep -obUa data float.wav | head -1 | cut -d: -f1) + 8 + 4 * 44100)) conv=notrunc status=none
ff -f lavfi -i "aevalsrc=1e8*sin(2*PI*440*t)|1e8*sin(2*PI*660*t):s=44100:d=1" -c:a pcm_f32le loud.wav
# A stream that turns into 500 Hz (refused) after its first second.
ff -f lavfi -i "$(tone 44100)" -c:a flac first.flac
ff -f lavfi -i "$(tone 500)" -c:a flac second.flac
cat first.flac second.flac >changing.flac

failures=0
# Expected: 0, 1, any, or stop: the stopped status (3) after its line, or 0
# where the conversion had ended before the stop came.
check() {  # expected-status(0|1|any|stop) description command...
  local expected="$1" what="$2"; shift 2
  local status=0
  "$@" 2>err.txt || status=$?
  if grep -qE "AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:" err.txt; then
    echo "FAIL  $what: sanitizer report"; sed -n '1,60p' err.txt; failures=$((failures + 1)); return
  fi
  if [ "$expected" = stop ] && [ "$status" -eq 3 ] && ! grep -q 'ffmpeg_release_stopped=[0-9.]*=ffmpeg_release_stopped' err.txt; then
    echo "FAIL  $what: stopped without its line"; tail -3 err.txt; failures=$((failures + 1)); return
  fi
  if [ "$expected" = stop ] && { [ "$status" -eq 3 ] || [ "$status" -eq 0 ]; }; then
    echo "ok    $what (exit $status)"; return
  fi
  if [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
    echo "FAIL  $what: exit status $status"; tail -5 err.txt; failures=$((failures + 1)); return
  fi
  if [ "$expected" != any ] && [ "$status" -ne "$expected" ]; then
    echo "FAIL  $what: exit status $status, expected $expected"; tail -3 err.txt; failures=$((failures + 1)); return
  fi
  echo "ok    $what (exit $status)"
}

run() {  # input format
  printf 'temp\r\n' >"out.$2"
  "$ENCODER" -i "$1" -y -f "$2" -vn -ab 128 -ar 44100 -ac 2 "out.$2" </dev/null
}

for fmt in wav mp3; do
  for f in clip.avi clip.mpg clip.mkv clip.mp4 clip.wmv surround.mkv cut-clip.avi cut-clip.mpg cut-clip.mkv \
           damaged-clip.avi damaged-clip.mpg damaged-clip.mkv damaged-clip.mp4; do
    check 0 "$f to $fmt" run "$f" "$fmt"
  done
  for f in empty.avi text.avi noaudio.mp4 missing.avi cut-clip.mp4 rate-1hz.wav rate-2ghz.wav channels-100.wav \
           channels-65535.wav; do
    check 1 "$f to $fmt" run "$f" "$fmt"
  done
  for f in nan.wav loud.wav granule.ogg; do
    check 0 "$f to $fmt" run "$f" "$fmt"
  done
  check 1 "changing.flac to $fmt" run changing.flac "$fmt"
  for f in garbage.mpg garbage.avi garbage.mkv; do
    check any "$f to $fmt" run "$f" "$fmt"
  done
done

stop_by_quit() {  # the pipeline's status is the encoder's, whatever happens to the writer
  printf 'temp\r\n' >stop.mp3
  (set +o pipefail; { sleep 0.5; echo quit; sleep 1; } 2>/dev/null | "$ENCODER" -i long.mkv -y -f mp3 -ab 128 -ar 44100 -ac 2 stop.mp3)
}
# Waits until the encoder has said the source's length (its signal handlers
# stand by then) or has ended; a sanitized build on a busy machine may take
# any time to get there.
wait_until_started() {  # pid error-file
  while kill -0 "$1" 2>/dev/null && ! grep -q ffmpeg_release_duration= "$2" 2>/dev/null; do sleep 0.05; done
}
stop_by_term() {
  printf 'temp\r\n' >stop.wav
  rm -f err-term.txt
  "$ENCODER" -i long.mkv -y -f wav -ab 128 -ar 96000 -ac 2 stop.wav </dev/null 2>err-term.txt & local pid=$!
  wait_until_started "$pid" err-term.txt; kill -TERM "$pid"; local status=0; wait "$pid" || status=$?
  cat err-term.txt >&2; return "$status"
}
late_start() { printf 'temp\r\n' >late.wav; "$ENCODER" -i late.mkv -y -f wav -ss 0.5 -t 0.5 late.wav </dev/null; }
late_limit() {  # input start-offset format
  printf 'temp\r\n' >"limit.$3"; "$ENCODER" -i "$1" -y -f "$3" -ss "$2" "limit.$3" </dev/null
}
bad_option() { "$ENCODER" -i clip.avi -y -f mp3 -acodec mp3 out.mp3 </dev/null; }
copy() {  # input output [options]: the audio as it is
  printf 'temp\r\n' >"$2"; "$ENCODER" -i "$1" -y -acodec copy "${@:3}" "$2" </dev/null
}
track() {  # input N format: the N-th audio track
  printf 'temp\r\n' >"out.$3"; "$ENCODER" -i "$1" -y -f "$3" -map "0:a:$2" "out.$3" </dev/null
}
probe() { "$ENCODER" -probe "$1" </dev/null >/dev/null; }
stop_copy() {
  printf 'temp\r\n' >stop.mka
  rm -f err-copy.txt
  "$ENCODER" -i long.mkv -y -acodec copy stop.mka </dev/null 2>err-copy.txt & local pid=$!
  wait_until_started "$pid" err-copy.txt; kill -TERM "$pid"; local status=0; wait "$pid" || status=$?
  cat err-copy.txt >&2; return "$status"
}
check stop "quit during an MP3 conversion" stop_by_quit
check stop "SIGTERM during a WAV conversion" stop_by_term
check 0 "start offset on far-off timestamps" late_start
for fmt in wav mp3; do
  # Past the end: an output without audio is a failure.
  check 1 "start offset past the end near the limit, mkv to $fmt" late_limit limit.mkv 1.9 "$fmt"
  check 1 "start offset at the limit, ts to $fmt" late_limit limit.ts 9223372036854 "$fmt"
  check 0 "absurd last granule with a start offset to $fmt" late_limit granule.ogg 0.5 "$fmt"
done
check 1 "unknown option" bad_option

# The other formats, on the good, damaged and hostile files that reach
# their encoders; the copy, the track choice and the track list.
for fmt in flac m4a opus ogg; do
  for f in clip.mkv clip.mp4 surround.mkv damaged-clip.mkv damaged-clip.mp4 cut-clip.mpg nan.wav loud.wav granule.ogg; do
    check 0 "$f to $fmt" run "$f" "$fmt"
  done
  for f in empty.avi noaudio.mp4 rate-2ghz.wav channels-65535.wav; do
    check 1 "$f to $fmt" run "$f" "$fmt"
  done
  check 1 "changing.flac to $fmt" run changing.flac "$fmt"
  check any "garbage.mkv to $fmt" run garbage.mkv "$fmt"
done
# Two passes: the gain, the limiter and the tags, on good, damaged and hostile files.
level() {  # input format options...
  printf 'temp\r\n' >"level.$2"; "$ENCODER" -i "$1" -y -f "$2" "${@:3}" "level.$2" </dev/null
}
for f in clip.mkv surround.mkv damaged-clip.mp4 cut-clip.mpg nan.wav loud.wav granule.ogg; do
  check 0 "$f to mp3 at -14 LUFS" level "$f" mp3 -loudness -14
  check 0 "$f to flac with gain tags" level "$f" flac -replaygain
done
check 0 "loud.wav to wav at -5 LUFS under -3 dBTP" level loud.wav wav -loudness -5 -truepeak -3
check 1 "changing.flac to opus at -16 LUFS" level changing.flac opus -loudness -16
check 0 "copy of vorbis with gain tags" copy clip.mkv copy-rg.ogg -replaygain
check 0 "copy of ac3 5.1 with gain tags" copy surround.mkv copy-rg.mka -replaygain
check 0 "copy of mp3 from avi" copy clip.avi copy.mp3
check 0 "copy of aac from mp4, cut" copy clip.mp4 copy.m4a -ss 0.3 -t 0.5
check 0 "copy of vorbis from mkv" copy clip.mkv copy.ogg
check 0 "copy of ac3 5.1" copy surround.mkv copy.ac3
check 0 "copy of aac from ts" copy limit.ts copy-ts.m4a
check 0 "copy of mp2 into Matroska" copy clip.mpg copy.mka
check 0 "copy from damaged mkv" copy damaged-clip.mkv copy-damaged.ogg
check 0 "copy from cut avi" copy cut-clip.avi copy-cut.mp3
check 0 "copy near the 64-bit limit" copy limit.mkv copy-limit.wav -ss 0.9
check 1 "copy past the end near the 64-bit limit" copy limit.mkv copy-limit.wav -ss 1.9
check 1 "copy of aac into .mp3" copy clip.mp4 wrong.mp3
check 1 "copy of a file without audio" copy noaudio.mp4 none.m4a
check any "copy of garbage" copy garbage.mkv garbage-copy.mka
check stop "SIGTERM during a copy" stop_copy
check 0 "the 5.1 track asked by number" track surround.mkv 0 mp3
check 1 "track out of range" track clip.mkv 3 wav
for f in clip.avi clip.mpg clip.mkv clip.mp4 clip.wmv surround.mkv damaged-clip.mp4 cut-clip.mkv limit.ts granule.ogg; do
  check 0 "track list of $f" probe "$f"
done
for f in empty.avi text.avi missing.avi; do
  check 1 "track list of $f" probe "$f"
done
for f in garbage.avi garbage.mkv garbage.mpg; do check any "track list of $f" probe "$f"; done

if [ "$failures" -ne 0 ]; then
  echo "$failures sanitized encoder run(s) failed"
  exit 1
fi
echo "All sanitized encoder runs clean."
