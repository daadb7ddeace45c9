#!/usr/bin/env bash
# Runs the level workshop's browser test (tests/web/workshop_test.mjs) in
# headless Chromium against the native tools: the recorder's frame 1 of level
# 1 and native levelc's message for a broken source.
#
#   bash tests/web/workshop.sh BUILD_DIR WEB_BUILD_DIR [SHOTS_DIR]   (from the repository root)
set -euo pipefail
build=$(realpath "$1")
web=$(realpath "$2")
shots=${3:+$(realpath "$3")}
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "workshop: $*" >&2; exit 1; }
for tool in "$build/tools/polydrive-record" "$build/tools/levelc"; do
  [ -x "$tool" ] || fail "$tool not built"
done
[ -f "$web/site/workshop-engine.wasm" ] || fail "$web/site not built (bash tools/web.sh)"
[ -d "$here/node_modules/puppeteer-core" ] || fail "npm packages missing (bash tools/web.sh installs them)"

source "$here/serve_common.bash"

"$build/tools/polydrive-record" --frames 1 --out "$tmp/ref" --data lib >/dev/null || fail "the recorder failed"
convert "$tmp/ref/frame_00001.png" -depth 8 "rgb:$tmp/ref.rgb"

# A broken source, and the line native levelc prints for it (the workshop
# names its source level.world).
mkdir -p "$tmp/broken"
sed '20s/.*/  v 20000 0/' assets/level1.world >"$tmp/broken/level.world"
if (cd "$tmp/broken" && "$build/tools/levelc" level.world -o out.3dw 2>"$tmp/broken.err"); then
  fail "the broken source compiles natively"
fi
message=$(sed 's/^levelc: //' "$tmp/broken.err")
line=$(echo "$message" | sed -n 's/^level\.world:\([0-9]*\):.*/\1/p')
[ "$line" = 20 ] || fail "native levelc names no line 20: $message"

serve_pages "$web"
SITE="http://127.0.0.1:$port/site" REF="$tmp/ref.rgb" LEVEL1=assets/level1.world \
  BROKEN="$tmp/broken/level.world" BROKEN_MESSAGE="$message" BROKEN_LINE="$line" SHOTS="$shots" \
  timeout 300 node "$here/workshop_test.mjs"
