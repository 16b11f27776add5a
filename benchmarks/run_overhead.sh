#!/usr/bin/env bash
# What a conversion run costs on top of the encoder itself.
#
# A queue of N short clips (default 50) goes once through the real main window
# (offscreen, real runner, real libm9s) and, on the same files with the same
# settings (MP3 128 kbit/s, 44100 Hz, stereo), through libm9s and through the
# stock ffmpeg program called directly one file after another. Prints:
#   - the wall time of each way (hyperfine medians for the direct loops, the
#     run's own clock for the window),
#   - the run's overhead per file over libm9s called directly,
#   - the CPU the window's process used while it waited for the encoder,
#     over the whole queue and over one long file (mostly waiting),
#   - the ratios against stock ffmpeg.
# Targets: overhead under 20 ms a file; the window's CPU a small fraction of
# the wall time (busy waiting would show as ~100 %).
#
#   benchmarks/run_overhead.sh [--files N] [--runs R]
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
DATA="${TOLVANE_BENCH_DIR:-$BUILD/benchmarks}"
FILES=50
RUNS=3

while (($#)); do
  case "$1" in
    --files) FILES="$2"; shift 2 ;;
    --runs) RUNS="$2"; shift 2 ;;
    *) echo "usage: $0 [--files N] [--runs R]" >&2; exit 2 ;;
  esac
done

for tool in ffmpeg hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

# Only our own targets, under the shared build lock.
flock /tmp/tolvane-build.lock cmake --build "$BUILD" --target libm9s run_overhead_driver -j2 >/dev/null
LIBM9S="$BUILD/libm9s"
DRIVER="$BUILD/benchmarks/run_overhead_driver"

CLIPS="$DATA/clips-$FILES"
if [ ! -f "$CLIPS/.complete" ]; then
  echo "Making $FILES clips of 3 seconds in $CLIPS"
  rm -rf "$CLIPS"
  mkdir -p "$CLIPS"
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc=size=160x120:rate=15:duration=3" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" \
    -c:v mpeg4 -c:a aac -ac 2 "$CLIPS/seed.mp4"
  for i in $(seq -w 1 "$FILES"); do cp "$CLIPS/seed.mp4" "$CLIPS/clip$i.mp4"; done
  rm "$CLIPS/seed.mp4"
  touch "$CLIPS/.complete"
fi
LONG="$DATA/long-600s.mkv"
if [ ! -f "$LONG" ]; then
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc=size=160x120:rate=5:duration=600" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=600" \
    -c:v mpeg4 -c:a aac -ac 2 "$LONG.part.mkv"
  mv "$LONG.part.mkv" "$LONG"
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/program" "$WORK/direct" "$WORK/stock" "$WORK/out"
ln -s "$LIBM9S" "$WORK/program/libm9s"

cat > "$WORK/direct.sh" <<EOF
for f in "$CLIPS"/clip*.mp4; do
  n=\$(basename "\$f" .mp4)
  printf 'temp\r\n' > "$WORK/direct/\$n.mp3"
  "$LIBM9S" -i "\$f" -y -f mp3 -vn -ab 128 -ar 44100 -ac 2 "$WORK/direct/\$n.mp3" </dev/null >/dev/null 2>&1
done
EOF
cat > "$WORK/stock.sh" <<EOF
for f in "$CLIPS"/clip*.mp4; do
  n=\$(basename "\$f" .mp4)
  ffmpeg -nostdin -v error -i "\$f" -y -f mp3 -vn -ab 128k -ar 44100 -ac 2 "$WORK/stock/\$n.mp3"
done
EOF

echo "Direct loops, $RUNS runs each (hyperfine)"
hyperfine --style basic --runs "$RUNS" --warmup 1 --export-json "$WORK/loops.json" \
  -n libm9s "bash $WORK/direct.sh" -n ffmpeg "bash $WORK/stock.sh" >/dev/null

echo "The run through the window, $RUNS times"
: > "$WORK/runs.txt"
for r in $(seq 1 "$RUNS"); do
  rm -f "$WORK/out"/*
  QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' /usr/bin/time -v -o "$WORK/time$r.txt" \
    "$DRIVER" "$WORK/program" "$WORK/out" "$CLIPS"/clip*.mp4 >> "$WORK/runs.txt" 2>"$WORK/driver$r.err" || {
      echo "driver failed:" >&2; cat "$WORK/driver$r.err" >&2; exit 1; }
done
produced=$(ls "$WORK/out"/*.mp3 | wc -l)
[ "$produced" -eq "$FILES" ] || { echo "the run wrote $produced of $FILES files" >&2; exit 1; }

echo "One file of 600 s through the window"
rm -f "$WORK/out"/*
QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
  "$DRIVER" "$WORK/program" "$WORK/out" "$LONG" > "$WORK/long.txt" 2>"$WORK/long.err" || {
    echo "driver failed:" >&2; cat "$WORK/long.err" >&2; exit 1; }

python3 - "$WORK" "$FILES" <<'PY'
import json, re, statistics, sys
work, files = sys.argv[1], int(sys.argv[2])
loops = {r["command"]: r for r in json.load(open(f"{work}/loops.json"))["results"]}
direct = statistics.median(loops["libm9s"]["times"]) * 1000
stock = statistics.median(loops["ffmpeg"]["times"]) * 1000
runs = []
for line in open(f"{work}/runs.txt"):
    runs.append({k: float(v) for k, v in re.findall(r"(\w+)=([\d.]+)", line)})
wall = statistics.median(r["wall_ms"] for r in runs)
gui = statistics.median(r["gui_cpu_ms"] for r in runs)
print()
print(f"files                          {files}")
print(f"libm9s directly (loop)         {direct:9.1f} ms   {direct / files:7.2f} ms/file")
print(f"stock ffmpeg directly (loop)   {stock:9.1f} ms   {stock / files:7.2f} ms/file")
print(f"run through the window         {wall:9.1f} ms   {wall / files:7.2f} ms/file")
print(f"overhead of the run            {(wall - direct) / files:9.2f} ms/file   (target < 20)")
print(f"window CPU during the run      {gui:9.1f} ms   {gui / files:7.2f} ms/file, "
      f"{100 * gui / wall:5.1f} % of the wall time (busy waiting ~100 %)")
long = {k: float(v) for k, v in re.findall(r"(\w+)=([\d.]+)", open(f"{work}/long.txt").read())}
print(f"window CPU, one 600 s file     {long['gui_cpu_ms']:9.1f} ms of {long['wall_ms']:.0f} ms wall, "
      f"{100 * long['gui_cpu_ms'] / long['wall_ms']:5.2f} % (encoder {long['encoder_cpu_ms']:.0f} ms CPU)")
print(f"ratio run / stock ffmpeg       {wall / stock:9.2f}")
print(f"ratio libm9s / stock ffmpeg    {direct / stock:9.2f}")
PY
grep -h "Maximum resident set size" "$WORK"/time*.txt | sort -t: -k2 -n | tail -1 | sed 's/^\s*/window process, /'
