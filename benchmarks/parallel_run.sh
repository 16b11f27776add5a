#!/usr/bin/env bash
# Several files at once: what the window gains against what the machine gives.
#
# 16 clips of 60 s (H.264 video, AAC audio) go to MP3 128 kbit/s, 44100 Hz,
# stereo four ways:
#   - libm9s called directly, one file after another (the reference),
#   - libm9s called directly, N at a time (xargs -P N),
#   - the real main window (offscreen, real runner) with 1 file at once,
#   - the real main window with N files at once,
# N being the number of cores. Prints each wall time (hyperfine medians), the
# direct and the window speed-ups and their ratio. Then, where GNU parallel
# is installed, the terminal program two ways: `tolvane --convert -j N` over
# all the clips, and GNU parallel starting `tolvane --convert --output-file`
# once per clip, N at a time, as a job engine does: the cost of a process per
# file, as a ratio.
# Targets: window speed-up >= 95 % of the direct one; the window with 1 file
# at once within 2 % of the direct loop.
#
#   benchmarks/parallel_run.sh [--runs R] [--files F] [--seconds S]
# With TOLVANE_BENCH_NO_BUILD=1 the build is left out (for a run that already
# holds the build lock).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
RUNS=3
FILES=16
SECONDS_PER_CLIP=60
CORES="$(nproc)"

while (($#)); do
  case "$1" in
    --runs) RUNS="$2"; shift 2 ;;
    --files) FILES="$2"; shift 2 ;;
    --seconds) SECONDS_PER_CLIP="$2"; shift 2 ;;
    *) echo "usage: $0 [--runs R] [--files F] [--seconds S]" >&2; exit 2 ;;
  esac
done

for tool in ffmpeg hyperfine python3 xargs; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

if [ -z "${TOLVANE_BENCH_NO_BUILD:-}" ]; then
  flock /tmp/tolvane-build.lock cmake --build "$BUILD" --target libm9s tolvane run_overhead_driver -j2 >/dev/null
fi
LIBM9S="$BUILD/libm9s"
DRIVER="$BUILD/benchmarks/run_overhead_driver"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/clips" "$WORK/program" "$WORK/out"
ln -s "$LIBM9S" "$WORK/program/libm9s"

echo "Making $FILES clips of $SECONDS_PER_CLIP s (H.264 + AAC) in $WORK/clips"
ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc=size=320x240:rate=25:duration=$SECONDS_PER_CLIP" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$SECONDS_PER_CLIP" \
  -c:v libx264 -preset ultrafast -c:a aac -b:a 128k -ac 2 "$WORK/seed.mp4"
for i in $(seq -w 1 "$FILES"); do cp "$WORK/seed.mp4" "$WORK/clips/clip$i.mp4"; done

# One file as the window converts it: the placeholder first, then libm9s.
cat > "$WORK/one.sh" <<ONE
f="\$1"; t="$WORK/out/\$(basename "\$f" .mp4).mp3"
printf 'temp\r\n' > "\$t"
exec "$LIBM9S" -i "\$f" -y -f mp3 -vn -ab 128 -ar 44100 -ac 2 "\$t" </dev/null >/dev/null 2>&1
ONE
run_direct() { # $1: files at once
  echo "ls '$WORK/clips'/clip*.mp4 | xargs -P $1 -n 1 bash '$WORK/one.sh'"
}
run_window() {
  echo "QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' '$DRIVER' --parallel $1 '$WORK/program' '$WORK/out' '$WORK/clips'/clip*.mp4 >/dev/null"
}

echo "Four ways, $RUNS runs each, N = $CORES (hyperfine)"
hyperfine --style basic --runs "$RUNS" --warmup 1 --prepare "rm -f '$WORK/out'/*" \
  --export-json "$WORK/times.json" \
  -n direct-1 "$(run_direct 1)" -n direct-N "$(run_direct "$CORES")" \
  -n window-1 "$(run_window 1)" -n window-N "$(run_window "$CORES")" >/dev/null

produced=$(ls "$WORK/out"/*.mp3 | wc -l)
[ "$produced" -eq "$FILES" ] || { echo "the last run wrote $produced of $FILES files" >&2; exit 1; }

python3 - "$WORK/times.json" "$FILES" "$CORES" <<'PY'
import json, statistics, sys
path, files, cores = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
t = {r["command"]: statistics.median(r["times"]) for r in json.load(open(path))["results"]}
direct, window = t["direct-1"] / t["direct-N"], t["window-1"] / t["window-N"]
print()
print(f"files {files}, N = {cores} cores")
for name in ("direct-1", "direct-N", "window-1", "window-N"):
    print(f"{name:10s} {t[name]:8.2f} s   {1000 * t[name] / files:7.1f} ms/file")
print(f"direct speed-up (1 / N)        {direct:6.2f}x")
print(f"window speed-up (1 / N)        {window:6.2f}x")
print(f"window / direct speed-up       {100 * window / direct:6.1f} %   (target >= 95 %)")
print(f"window-1 / direct-1            {100 * t['window-1'] / t['direct-1']:6.1f} %   (target <= 102 %)")
PY

command -v parallel >/dev/null || { echo "GNU parallel is not installed: the terminal's two ways are left out"; exit 0; }
# A program folder of its own, so that the build folder's config.ini plays no part.
cp "$BUILD/tolvane" "$WORK/program/tolvane"
TERMINAL="'$WORK/program/tolvane' --convert -q -f mp3 -b 128 -r 44100 -c 2 --existing overwrite"
echo
echo "The terminal program, $RUNS runs each: one process for all, one per file (GNU parallel)"
hyperfine --style basic --runs "$RUNS" --warmup 1 --prepare "rm -f '$WORK/out'/*" \
  --export-json "$WORK/terminal.json" \
  -n terminal-N "$TERMINAL -j $CORES -o '$WORK/out' '$WORK/clips'/clip*.mp4" \
  -n parallel-N "parallel -j $CORES $TERMINAL --output-file '$WORK/out/{/.}.mp3' {} ::: '$WORK/clips'/clip*.mp4" \
  >/dev/null
produced=$(ls "$WORK/out"/*.mp3 | wc -l)
[ "$produced" -eq "$FILES" ] || { echo "the last run wrote $produced of $FILES files" >&2; exit 1; }

python3 - "$WORK/terminal.json" "$FILES" <<'PY'
import json, statistics, sys
path, files = sys.argv[1], int(sys.argv[2])
t = {r["command"]: statistics.median(r["times"]) for r in json.load(open(path))["results"]}
for name in ("terminal-N", "parallel-N"):
    print(f"{name:10s} {t[name]:8.2f} s   {1000 * t[name] / files:7.1f} ms/file")
extra = 1000 * (t["parallel-N"] - t["terminal-N"]) / files
print(f"parallel / terminal            {100 * t['parallel-N'] / t['terminal-N']:6.1f} %   ({extra:+.1f} ms per file for a process of its own)")
PY
