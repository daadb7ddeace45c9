#!/usr/bin/env bash
# Prints the web page's figures (BENCHMARKS.md): pace, time to the first
# frame, the cost of a frame in WebAssembly and the size of the folder; with
# SHOTS=1 it takes the README's pictures of the page instead.
#
#   bash tests/web/measure.sh [WEB_BUILD_DIR]     (default build-web; LONG=0 skips the 55 s pace)
#   SHOTS=1 bash tests/web/measure.sh             (writes assets/screenshots/web-*.png)
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
  timeout 600 node "$here/measure.mjs"
