#!/usr/bin/env bash
# The file queue at scale, in the real main window (offscreen):
#   1. batch add's folder search over a tree of N video files (default 10,000)
#      in 100 folders, among as many other files, with subfolders and "*";
#   2. a queue of M rows (default 100,000) added one by one as a search does,
#      then the queue commands on it (repaint, scroll, select, move, delete),
#      then the same folder search on top of the long queue.
# Prints the seconds and milliseconds the driver measures and the peak memory
# (/usr/bin/time -v). For comparison, the stock ffmpeg program probing one of
# the files shows what a single encoder start costs against a whole search.
# Targets: the search of 10,000 files within 2 s; each command on 100,000
# rows well under 100 ms.
#
#   benchmarks/queue_folder_search.sh [--files N] [--rows M]
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${TOLVANE_BUILD_DIR:-$ROOT/build}"
FILES=10000
ROWS=100000

while (($#)); do
  case "$1" in
    --files) FILES="$2"; shift 2 ;;
    --rows) ROWS="$2"; shift 2 ;;
    *) echo "usage: $0 [--files N] [--rows M]" >&2; exit 2 ;;
  esac
done

[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (apt-get install time)" >&2; exit 1; }

# Only our own target, under the shared build lock.
flock /tmp/tolvane-build.lock cmake --build "$BUILD" --target queue_bench_driver -j2 >/dev/null
DRIVER="$BUILD/benchmarks/queue_bench_driver"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
TREE="$WORK/tree"
echo "Making $FILES video files and $FILES other files in 100 folders under $TREE"
python3 - "$TREE" "$FILES" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
kinds = ["avi", "MKV", "mp4", "mpg"]
for i in range(count):
    folder = os.path.join(root, "season%02d" % (i % 100), "disc%d" % (i % 3))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "episode%05d.%s" % (i, kinds[i % 4])), "w").close()
    open(os.path.join(folder, "episode%05d.srt" % i), "w").close()
PY

measure() {
  # The driver's own figures, then wall time and peak memory from GNU time.
  QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
    /usr/bin/time -v "$DRIVER" "$@" 2>"$WORK/time.txt" | tee -a "$WORK/figures.txt"
  awk -F': ' '/Elapsed \(wall clock\)/ {print "process wall time: " $2}
              /Maximum resident set size/ {printf "peak memory MB: %.1f\n", $2 / 1024}' "$WORK/time.txt"
}

echo
echo "== folder search of $FILES video files =="
measure folder "$TREE"

echo
echo "== queue of $ROWS rows, then the same search on top =="
measure rows "$ROWS" "$TREE"

if command -v ffmpeg >/dev/null; then
  # The yardstick: the stock ffmpeg program started on one of the same files
  # (they are empty, so it gives up at once); every queued file costs at least
  # one such start during a run.
  one="$(find "$TREE" -name '*.avi' -print -quit)"
  python3 - "$one" "$WORK/figures.txt" <<'PY'
import subprocess, sys, time
one, figures = sys.argv[1], sys.argv[2]
runs = []
for _ in range(10):
    start = time.perf_counter()
    subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "quiet", "-i", one, "-f", "null", "-"])
    runs.append(time.perf_counter() - start)
ffmpeg = sorted(runs)[len(runs) // 2]
search = float([l for l in open(figures) if l.startswith("folder search seconds")][0].split(":")[1])
print()
print("stock ffmpeg start on one of the files, median seconds: %.4f" % ffmpeg)
print("whole folder search / one ffmpeg start: %.2f" % (search / ffmpeg))
PY
fi
