#!/usr/bin/env bash
# The game in a real window shows, pixel for pixel, the first frame that the
# headless recorder makes of the same level; held keys then change the
# picture, and Escape ends the game with status 0.
#
#   bash tests/e2e/first_frame.sh BUILD_DIR      (from the repository root)
#
# Needs Xvfb, xdotool, xwininfo, ImageMagick (import, convert) and python3.
# With no key the car stands still and every frame equals the first, so a
# screenshot taken any time before the first key shows the first frame.
name=first_frame
source "$(dirname "$0")/window_common.bash"
need import convert python3 xwininfo
recorder="$build/tools/polydrive-record"
[ -x "$recorder" ] || fail "$recorder not built"

start_display
# The reference: the recorder's first frame with no key held.
"$recorder" --frames 1 --out "$tmp/rec" >"$tmp/rec.log" 2>&1 || fail "recorder failed: $(cat "$tmp/rec.log")"
convert "$tmp/rec/frame_00001.png" -depth 8 "rgb:$tmp/ref.rgb" || fail "cannot read the recorded frame"

start_game
wait_window
sleep 1   # let a few frames be presented

# Window size, to place the centre of each source pixel in it.
geometry() {
    xwininfo -id "$wid" | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w, h}'
}
read -r width height < <(geometry)
shot() {
    import -window "$wid" "$tmp/$1.png" 2>/dev/null &&
        convert "$tmp/$1.png" -depth 8 "rgb:$tmp/$1.rgb"
}

# Samples the window at the centre of each of the 320x200 source pixels: the
# frame fills a 4:3 area (320x240 logical pixels), letterboxed in the window.
compare() {
    python3 - "$1" "$2" "$width" "$height" "$3" <<'EOF'
import sys
ref_path, shot_path, w, h, mode = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
ref = open(ref_path, 'rb').read()
shot = open(shot_path, 'rb').read()
if mode == 'differ':
    # Two screenshots: report how many window pixels differ.
    diff = sum(1 for i in range(0, len(shot), 3) if shot[i:i+3] != ref[i:i+3])
    print(diff)
    sys.exit(0)
assert len(ref) == 320 * 200 * 3, 'reference is not 320x200'
assert len(shot) == w * h * 3, 'screenshot size does not match the window'
scale = min(w / 320, h / 240)
ox, oy = (w - 320 * scale) / 2, (h - 240 * scale) / 2
bad = []
for y in range(200):
    wy = int(oy + (y + 0.5) * scale * 1.2)
    for x in range(320):
        wx = int(ox + (x + 0.5) * scale)
        s = shot[(wy * w + wx) * 3:(wy * w + wx) * 3 + 3]
        r = ref[(y * 320 + x) * 3:(y * 320 + x) * 3 + 3]
        if s != r:
            bad.append((x, y, tuple(r), tuple(s)))
if bad:
    print(f'{len(bad)} of 64000 pixels differ; first: ' +
          '; '.join(f'({x},{y}) want {r} got {s}' for x, y, r, s in bad[:5]))
    sys.exit(1)
print('all 64000 pixels equal')
EOF
}
# A slow machine may not have presented the first frame yet: try for a while.
for attempt in $(seq 10); do
    shot first || fail "cannot take a screenshot"
    result=$(compare "$tmp/ref.rgb" "$tmp/first.rgb" same) && break
    [ "$attempt" -eq 10 ] && fail "window ${width}x${height} against the recorded frame: $result"
    sleep 0.5
done
echo "$name: window ${width}x${height}: $result"

# Drive: cursor up and left held for two seconds.
xdotool mousemove --window "$wid" 100 100 2>/dev/null
xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool keydown --window "$wid" Up Left
sleep 2
xdotool keyup --window "$wid" Up Left
sleep 0.3
shot moved || fail "cannot take the second screenshot"
changed=$(compare "$tmp/first.rgb" "$tmp/moved.rgb" differ)
[ "$changed" -gt 1000 ] || fail "the picture did not change while driving ($changed pixels)"
echo "$name: $changed window pixels changed while driving"

# Escape, pressed and released, ends the game normally.
xdotool keydown --window "$wid" Escape
sleep 0.1
xdotool keyup --window "$wid" Escape
wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after Escape; output: $(cat "$tmp/game.out")"
expect_clean_end
echo "$name: Escape ended the game with status 0"
