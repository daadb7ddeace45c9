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
tmp=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

[ "${SHOTS:-0}" = 1 ] || echo "published folder $web/site: $(du -sb "$web/site" | cut -f1) bytes"
[ "${SHOTS:-0}" = 1 ] || (cd "$web/site" && for f in *; do printf '  %-16s %7d bytes, %7d gzipped\n' "$f" "$(stat -c %s "$f")" "$(gzip -9c "$f" | wc -c)"; done)

python3 -u "$here/serve.py" "$web" --isolated >"$tmp/server.log" 2>&1 &
server=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$tmp/server.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start" >&2; exit 1; }
if [ "${SHOTS:-0}" = 1 ]; then
  SITE="http://127.0.0.1:$port/site" OUT=assets/screenshots timeout 120 node "$here/screenshots.mjs"
  exit
fi
SITE="http://127.0.0.1:$port/site" LAP_KEYS=tests/data/record/lap.keys LAP_FRAMES=1771 \
  timeout 600 node "$here/measure.mjs"
