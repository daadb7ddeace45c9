#!/usr/bin/env bash
# Runs the web page's browser test (tests/web/browser_test.mjs) in headless
# Chromium against the native recorder's frames.
#
#   bash tests/web/run.sh BUILD_DIR WEB_BUILD_DIR     (from the repository root)
#
# BUILD_DIR has the native tools/polydrive-record; WEB_BUILD_DIR the pages
# that tools/web.sh builds (site/ and broken-site/, with broken-lib/). The
# pages are served on 127.0.0.1 only, on a free port, for the test's length.
set -euo pipefail
build=$(realpath "$1")
web=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
recorder="$build/tools/polydrive-record"
fail() { echo "web: $*" >&2; exit 1; }
[ -x "$recorder" ] || fail "$recorder not built"
[ -f "$web/site/polydrive.wasm" ] || fail "$web/site not built (bash tools/web.sh)"
[ -d "$here/node_modules/puppeteer-core" ] || fail "npm packages missing (bash tools/web.sh installs them)"
for tool in node convert python3 /usr/bin/chromium; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

source "$here/serve_common.bash"

# The native frames: the first and the last of the recorded lap, as raw RGB.
lap=tests/data/record/lap.keys
lap_frames=1771
"$recorder" --keys "$lap" --frames "$lap_frames" --every "$lap_frames" --out "$tmp/ref" >/dev/null ||
  fail "the recorder failed"
# And the first frame at scale 2, widescreen (853x400).
"$recorder" --frames 1 --scale 2 --widescreen --out "$tmp/ref/wide2" >/dev/null ||
  fail "the recorder failed at scale 2"
# And the first frames of levels 2 and 3 (3 under the raised limits).
"$recorder" --level 2 --frames 1 --out "$tmp/ref/level2" >/dev/null ||
  fail "the recorder failed on level 2"
"$recorder" --level 3 --limits raised --frames 1 --out "$tmp/ref/level3" >/dev/null ||
  fail "the recorder failed on level 3"
for png in "$tmp"/ref/*.png "$tmp"/ref/wide2/*.png "$tmp"/ref/level2/*.png "$tmp"/ref/level3/*.png; do
  convert "$png" -depth 8 "rgb:${png%.png}.rgb"
done

# The line the native game prints for the broken level.
mkdir -p "$tmp/broken"
cp -r "$web/broken-lib" "$tmp/broken/lib"
if (cd "$tmp/broken" && "$recorder" --frames 1 --out out >"$tmp/broken.out" 2>&1); then
  fail "the broken level loads natively"
fi
fatal=$(grep '^Fatal error: ' "$tmp/broken.out" | head -n 1)
[ -n "$fatal" ] || fail "no fatal line natively: $(cat "$tmp/broken.out")"

# A static server on the loopback address; it tells its port once listening.
serve_pages "$web"

SITE="http://127.0.0.1:$port/site" BROKEN="http://127.0.0.1:$port/broken-site" REF="$tmp/ref" \
  LAP_KEYS="$lap" LAP_FRAMES="$lap_frames" FATAL="$fatal" SITE_DIR="$web/site" \
  timeout 300 node "$here/browser_test.mjs"
