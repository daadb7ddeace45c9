#!/usr/bin/env bash
# Runs the level workshop's browser test (tests/web/workshop_test.mjs) in
# headless Chromium against the native tools: the recorder's frame 1 of level
# 1, native levelc's messages for a broken and a huge source, and native
# bitmapc's Bitmap of a PNG picture and its refusal of a damaged one.
#
#   bash tests/web/workshop.sh BUILD_DIR WEB_BUILD_DIR [SHOTS_DIR]   (from the repository root)
set -euo pipefail
build=$(realpath "$1")
web=$(realpath "$2")
shots=${3:+$(realpath "$3")}
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "workshop: $*" >&2; exit 1; }
for tool in "$build/tools/polydrive-record" "$build/tools/levelc" "$build/tools/bitmapc"; do
  [ -x "$tool" ] || fail "$tool not built"
done
[ -f "$web/site/workshop-engine.wasm" ] || fail "$web/site not built (bash tools/web.sh)"
[ -d "$here/node_modules/puppeteer-core" ] || fail "npm packages missing (bash tools/web.sh installs them)"

source "$here/serve_common.bash"

"$build/tools/polydrive-record" --frames 1 --out "$tmp/ref" --data lib >/dev/null || fail "the recorder failed"
convert "$tmp/ref/frame_00001.png" -depth 8 "rgb:$tmp/ref.rgb"
# Level 3, which needs the raised limits.
"$build/tools/polydrive-record" --frames 1 --out "$tmp/ref3" --data lib --level 3 --limits raised >/dev/null ||
  fail "the recorder failed on level 3"
convert "$tmp/ref3/frame_00001.png" -depth 8 "rgb:$tmp/ref3.rgb"

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

# A source that asks for a lot of work: twenty obj lines of a 1 MiB OBJ file
# of 20,000 triangles, past what the OBJ bound lets one source read, and the
# line where native levelc stops it. The workshop compiles as
# `levelc --limits raised` does (it then says which set the level needs), so
# the native run takes the same limits.
mkdir -p "$tmp/huge"
python3 - "$tmp/huge/big.obj" <<'PY'
import sys
lines = [f'v {i % 97}.5 {i % 89}.25 {i % 83}.75' for i in range(20000)]
lines += [f'f {i + 1} {(i + 1) % 20000 + 1} {(i + 2) % 20000 + 1}' for i in range(20000)]
text = '\n'.join(lines) + '\n'
text += '#' * ((1 << 20) - len(text) - 1) + '\n'
open(sys.argv[1], 'w').write(text)
PY
{ printf 'world\nstart Human1 0 0 0\nobject Big\n mass 1\n'
  for _ in $(seq 20); do echo ' obj big.obj grey 200'; done
  echo end; } >"$tmp/huge/level.world"
if (cd "$tmp/huge" && "$build/tools/levelc" --limits raised level.world -o out.3dw 2>"$tmp/huge.err"); then
  fail "the huge source compiles natively"
fi
huge_message=$(sed 's/^levelc: //' "$tmp/huge.err")
huge_line=$(echo "$huge_message" | sed -n 's/^level\.world:\([0-9]*\):.*/\1/p')
[ -n "$huge_line" ] || fail "native levelc names no line for the huge source: $huge_message"

# A PNG picture with colours and transparency, its Bitmap from native bitmapc,
# and a copy whose data chunk fails its CRC, with bitmapc's refusal of it.
convert -size 32x16 gradient:'#ff8000-#0040c0' \( -size 32x16 xc:none -fill white \
  -draw 'circle 16,8 16,1' \) -compose copy-opacity -composite "PNG32:$tmp/flower.png"
"$build/tools/bitmapc" "$tmp/flower.png" -o "$tmp/flower.bit" || fail "bitmapc refuses the picture"
python3 - "$tmp/flower.png" "$tmp/damaged.png" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
# The data chunk's CRC: both decoders check it before they trust the chunk.
at = data.index(b'IDAT')
length = int.from_bytes(data[at - 4:at], 'big')
data[at + 4 + length] ^= 0x55
open(sys.argv[2], 'wb').write(data)
PY
if "$build/tools/bitmapc" "$tmp/damaged.png" -o "$tmp/damaged.bit" 2>"$tmp/damaged.err"; then
  fail "bitmapc takes the damaged picture"
fi
damaged_message=$(sed 's/^bitmapc: [^:]*: //' "$tmp/damaged.err")

serve_pages "$web"
SITE="http://127.0.0.1:$port/site" REF="$tmp/ref.rgb" LEVEL1=assets/level1.world \
  REF3="$tmp/ref3.rgb" LEVEL3=assets/level3.world \
  BROKEN="$tmp/broken/level.world" BROKEN_MESSAGE="$message" BROKEN_LINE="$line" SHOTS="$shots" \
  HUGE="$tmp/huge/level.world" HUGE_OBJ="$tmp/huge/big.obj" HUGE_MESSAGE="$huge_message" HUGE_LINE="$huge_line" \
  PNG="$tmp/flower.png" PNG_BIT="$tmp/flower.bit" DAMAGED_PNG="$tmp/damaged.png" \
  DAMAGED_MESSAGE="$damaged_message" \
  timeout 300 node "$here/workshop_test.mjs"
