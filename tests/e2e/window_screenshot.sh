#!/usr/bin/env bash
# F12 in the game's window saves the frame on show as an indexed PNG whose
# indices and palette equal the recorder's frame (the car parked at the start,
# so every frame equals the first); a second F12 in the same second writes a
# second file; a folder that cannot be made gives one line on standard error
# and the game goes on, to end normally by Escape; a user-dirs.dirs that is a
# FIFO or /dev/zero neither freezes F12 nor keeps SIGTERM out, and the
# picture goes to ~/Pictures/polydrive.
#
#   bash tests/e2e/window_screenshot.sh BUILD_DIR      (from the repository root)
name=window_screenshot
source "$(dirname "$0")/window_common.bash"
need convert python3
recorder="$build/tools/polydrive-record"
[ -x "$recorder" ] || fail "$recorder not built"

"$recorder" --frames 1 --raw --out "$tmp/rec" >"$tmp/rec.log" 2>&1 || fail "recorder failed: $(cat "$tmp/rec.log")"
convert "$tmp/rec/frame_00001.png" -depth 8 "rgb:$tmp/ref.rgb" || fail "cannot read the recorded frame"

press() {   # xdotool key names
    xdotool key --window "$wid" "$@"
}
escape_and_end() {
    xdotool keydown --window "$wid" Escape
    sleep 0.1
    xdotool keyup --window "$wid" Escape
    wait_exit 10
    [ "$status" -eq 0 ] || fail "exit status $status after Escape; output: $(cat "$tmp/game.out" "$tmp/game.err")"
    expect_clean_end
}

start_display
start_game env XDG_PICTURES_DIR="$tmp/pictures"
wait_window
sleep 1
timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
press F12 F12
for _ in $(seq 50); do
    [ "$(ls "$tmp/pictures/polydrive" 2>/dev/null | wc -l)" -ge 2 ] && break
    sleep 0.1
done
shots=$(ls "$tmp/pictures/polydrive" 2>/dev/null)
[ "$(echo "$shots" | grep -c '^polydrive-[0-9]\{8\}-[0-9]\{6\}\(-[0-9]*\)\?\.png$')" -eq 2 ] ||
    fail "two F12 presses left: $(echo $shots) (stderr: $(cat "$tmp/game.err"))"
for shot in $shots; do
    python3 "$(dirname "$0")/same_frame.py" "$tmp/pictures/polydrive/$shot" "$tmp/rec/frame_00001.bin" "$tmp/ref.rgb" ||
        fail "screenshot $shot differs from the recorder's frame"
done
[ -s "$tmp/game.err" ] && fail "the game complained: $(cat "$tmp/game.err")"
kill -0 "$game_pid" 2>/dev/null || fail "the game ended after F12"
cp "$tmp/pictures/polydrive/$(echo "$shots" | head -n 1)" "$build/window_screenshot.png"
escape_and_end
echo "$name: two F12 presses wrote $(echo $shots), each equal to the recorder's frame"

# A folder that cannot be made: one line, and the game goes on.
echo "not a folder" >"$tmp/file"
start_game env XDG_PICTURES_DIR="$tmp/file"
wait_window
sleep 0.5
timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
press F12
for _ in $(seq 50); do
    [ -s "$tmp/game.err" ] && break
    sleep 0.1
done
sleep 0.3
lines=$(wc -l <"$tmp/game.err")
[ "$lines" -eq 1 ] || fail "a failed screenshot gave $lines lines: $(cat "$tmp/game.err")"
grep -q "cannot save screenshot" "$tmp/game.err" || fail "unexpected message: $(cat "$tmp/game.err")"
kill -0 "$game_pid" 2>/dev/null || fail "the game ended after a failed screenshot"
msg=$(cat "$tmp/game.err")
: >"$tmp/game.err"
escape_and_end
echo "$name: an unmakeable folder gave one line ($msg) and the game went on"

# user-dirs.dirs as a FIFO with no writer (a blocking open would wait for
# good) and as /dev/zero (a read would never end).
mkdir -p "$tmp/fifo-config" "$tmp/zero-config"
mkfifo "$tmp/fifo-config/user-dirs.dirs"
ln -s /dev/zero "$tmp/zero-config/user-dirs.dirs"
for config in fifo-config zero-config; do
    home=$tmp/home-$config
    mkdir -p "$home"
    start_game env -u XDG_PICTURES_DIR HOME="$home" XDG_CONFIG_HOME="$tmp/$config"
    wait_window
    sleep 0.5
    timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
    press F12
    for _ in $(seq 50); do
        [ -n "$(ls "$home/Pictures/polydrive" 2>/dev/null)" ] && break
        sleep 0.1
    done
    [ -n "$(ls "$home/Pictures/polydrive" 2>/dev/null)" ] ||
        fail "$config: F12 saved nothing in ~/Pictures/polydrive: $(cat "$tmp/game.err")"
    kill -TERM "$game_pid"
    wait_exit 5
    [ "$status" -eq 143 ] || fail "$config: SIGTERM after F12 gave exit status $status"
    echo "$name: user-dirs.dirs as $config: F12 saved to ~/Pictures/polydrive, SIGTERM ended the game"
done
