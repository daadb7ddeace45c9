#!/usr/bin/env bash
# Prints the web page's figures (BENCHMARKS.md): pace, time to the first
# frame, the cost of a frame in WebAssembly and the size of the folder; with
# SHOTS=1 it takes the README's pictures of the page instead.
#
#   bash tests/web/measure.sh [WEB_BUILD_DIR]     (default build-web; LONG=0 skips the 55 s pace)
#   SHOTS=1 bash tests/web/measure.sh             (writes assets/screenshots/web-*.png)
#
# The frame of the recorded lap is measured in WebAssembly and natively in
# the same way and in the same run: both sides take the wall-clock time at
# the end of every frame of the lap (the page with performance.now(), the
# native bench_game --lap-times with CLOCK_MONOTONIC, playing the same key
# script through the same game loop headless), and one function takes the
# figure from either: the lap's frames in runs of 16, the median run's time
# per frame. Each side plays the lap twice, two games in a row, and the
# figure is the second lap's: a fresh page runs the first partly in V8's
# baseline code (its figure is printed too). Page loads and native runs
# alternate, one of each per pair in alternating order, so both sides of a
# pair see the same load from the rest of the machine; the ratio is taken
# per pair, and the median of the LOADS (9) pairs and their range are
# printed. A figure in CPU time on one side and wall-clock time on the other
# would let the machine's load inflate only the wall-clock side.
#
# Then bench_game's GameFrame (its two-lap drive, median of 9 repetitions) in
# CPU time and in wall-clock time, with the WebAssembly frame as a multiple
# of the wall-clock one. bench_game is built in NATIVE_BUILD (default
# build-perf, as a Release build if that folder has none).
set -euo pipefail
cd "$(dirname "$0")/../.."
web=$(realpath "${1:-build-web}")
here=tests/web
source tests/web/serve_common.bash

[ "${SHOTS:-0}" = 1 ] || echo "published folder $web/site: $(du -sb "$web/site" | cut -f1) bytes"
[ "${SHOTS:-0}" = 1 ] || (cd "$web/site" && for f in *; do printf '  %-16s %7d bytes, %7d gzipped\n' "$f" "$(stat -c %s "$f")" "$(gzip -9c "$f" | wc -c)"; done)

native=${NATIVE_BUILD:-build-perf}
if [ "${SHOTS:-0}" != 1 ]; then
  if [ ! -f "$native/CMakeCache.txt" ]; then
    cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$native" --target bench_game >/dev/null
fi

serve_pages "$web" --isolated
if [ "${SHOTS:-0}" = 1 ]; then
  SITE="http://127.0.0.1:$port/site" OUT=assets/screenshots timeout 120 node "$here/screenshots.mjs"
  exit
fi
SITE="http://127.0.0.1:$port/site" LAP_KEYS=tests/data/record/lap.keys LAP_FRAMES=1771 \
  NATIVE_BENCH="$native/bench/bench_game" timeout 900 node "$here/measure.mjs" | tee "$tmp/page.txt"
wasm_us=$(sed -n 's/^wasm frame \([0-9.]*\)$/\1/p' "$tmp/page.txt")
paired=$(sed -n 's/^paired ratio \([0-9.]*\)$/\1/p' "$tmp/page.txt")

# bench_game's GameFrame in the same run, in CPU and in wall-clock time.
"$native/bench/bench_game" --benchmark_filter='^BM_GameFrame(Wall)?/|^BM_Memset64000$' >"$tmp/native.txt" 2>&1
cpu_ns=$(awk '$1 == "GameFrame" && $2 ~ /^[0-9]+$/ {print $2}' "$tmp/native.txt")
wall_ns=$(awk '$1 == "GameFrameWall" && $2 ~ /^[0-9]+$/ {print $2}' "$tmp/native.txt")
if [ -z "$wasm_us" ] || [ -z "$paired" ] || [ -z "$cpu_ns" ] || [ -z "$wall_ns" ]; then
  echo "measure: no frame figure from the page or from $native/bench/bench_game" >&2
  exit 1
fi
awk -v w="$wasm_us" -v c="$cpu_ns" -v r="$wall_ns" -v p="$paired" 'BEGIN {
  printf "bench_game GameFrame: %.1f us CPU time, %.1f us wall clock; WebAssembly %.1f us is %.2f x the wall-clock one\n", c / 1000, r / 1000, w, w * 1000 / r
  printf "one frame of the lap: WebAssembly %.2f x native (median of the paired ratios)\n", p }'
