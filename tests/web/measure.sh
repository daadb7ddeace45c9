#!/usr/bin/env bash
# Prints the web page's figures (BENCHMARKS.md): pace, time to the first
# frame, the cost of a frame in WebAssembly and the size of the folder; with
# SHOTS=1 it takes the README's pictures of the page instead.
#
#   bash tests/web/measure.sh [WEB_BUILD_DIR]     (default build-web; LONG=0 skips the 55 s pace)
#   SHOTS=1 bash tests/web/measure.sh             (writes assets/screenshots/web-*.png)
#
# After the page's figures it runs the native bench_game's GameFrame (built in
# NATIVE_BUILD, default build-perf, as a Release build if that folder has
# none) and prints the WebAssembly frame beside it and their ratio.
set -euo pipefail
cd "$(dirname "$0")/../.."
web=$(realpath "${1:-build-web}")
here=tests/web
source tests/web/serve_common.bash

[ "${SHOTS:-0}" = 1 ] || echo "published folder $web/site: $(du -sb "$web/site" | cut -f1) bytes"
[ "${SHOTS:-0}" = 1 ] || (cd "$web/site" && for f in *; do printf '  %-16s %7d bytes, %7d gzipped\n' "$f" "$(stat -c %s "$f")" "$(gzip -9c "$f" | wc -c)"; done)

serve_pages "$web" --isolated
if [ "${SHOTS:-0}" = 1 ]; then
  SITE="http://127.0.0.1:$port/site" OUT=assets/screenshots timeout 120 node "$here/screenshots.mjs"
  exit
fi
SITE="http://127.0.0.1:$port/site" LAP_KEYS=tests/data/record/lap.keys LAP_FRAMES=1771 \
  timeout 600 node "$here/measure.mjs" | tee "$tmp/page.txt"
wasm_us=$(sed -n 's/^wasm frame \([0-9.]*\)$/\1/p' "$tmp/page.txt")

# The native frame in the same run: bench_game's median GameFrame (CPU time).
native=${NATIVE_BUILD:-build-perf}
if [ ! -f "$native/CMakeCache.txt" ]; then
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$native" --target bench_game >/dev/null
"$native/bench/bench_game" --benchmark_filter='^BM_GameFrame/|^BM_Memset64000$' >"$tmp/native.txt" 2>&1
native_ns=$(awk '$1 == "GameFrame" && $2 ~ /^[0-9]+$/ {print $2}' "$tmp/native.txt")
if [ -z "$wasm_us" ] || [ -z "$native_ns" ]; then
  echo "measure: no frame figure from the page or from $native/bench/bench_game" >&2
  exit 1
fi
awk -v w="$wasm_us" -v n="$native_ns" 'BEGIN {
  printf "one frame of the lap: WebAssembly %.1f us, native %.1f us (bench_game GameFrame), %.2f x native\n", w, n / 1000, w * 1000 / n }'
