#!/usr/bin/env bash
# Demos of a live drive. A drive made with xdotool under --record-demo (ended
# by Escape) leaves a demo whose replay by polydrive-record has as many
# frames as the game showed and ends on the frame the window showed last (an
# F12 screenshot of it); --play-demo shows the same drive at the game's pace,
# frame for frame, and ends by itself; Escape ends a demo early; a game ended
# by SIGTERM or SIGHUP (its terminal closed) still leaves a whole demo.
#
#   bash tests/e2e/window_demo.sh BUILD_DIR      (from the repository root)
#
# Frames are counted with POLYDRIVE_COUNT_PRESENTS: the window backend then
# prints "polydrive: SHOWN of ASKED presents shown" at its close, and ASKED is
# the frames plus the one present of the palette loaded at start-up.
name=window_demo
source "$(dirname "$0")/window_common.bash"
need convert python3
recorder="$build/tools/polydrive-record"
[ -x "$recorder" ] || fail "$recorder not built"
here=$(dirname "$0")

# Starts the game with the given options, counting presents, screenshots in
# $tmp/pictures.
run_game() {
    POLYDRIVE_COUNT_PRESENTS=1 XDG_PICTURES_DIR="$tmp/pictures" "$game" "$@" >"$tmp/game.out" 2>"$tmp/game.err" &
    game_pid=$!
    wait_window
    timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
}
hold() {   # KEYS SECONDS
    xdotool keydown --window "$wid" $1
    sleep "$2"
    xdotool keyup --window "$wid" $1
}
asked() {   # the presents asked for, from the count line
    sed -n 's/^polydrive: [0-9]* of \([0-9]*\) presents shown$/\1/p' "$tmp/game.err"
}
# The frames a demo holds: its header's count, checked against its lines.
demo_frames() {
    local header sum
    header=$(sed -n '1s/^# polydrive demo: \([0-9]*\) frames$/\1/p' "$1")
    sum=$(awk '!/^#/ {n += $1} END {print n + 0}' "$1")
    [ -n "$header" ] && [ "$header" = "$sum" ] || fail "$1: header '$(head -n 1 "$1")' but its lines hold $sum frames"
    echo "$sum"
}

start_display

# 1. Record a drive: forward, left, right, stop, then standing still.
run_game --record-demo "$tmp/drive.keys"
sleep 0.5
xdotool keydown --window "$wid" Up
hold Left 0.8
hold Right 0.5
xdotool keyup --window "$wid" Up
hold 1 0.2
sleep 0.5
xdotool key --window "$wid" F12
sleep 1.5
hold Escape 0.1
wait_exit 10
[ "$status" -eq 0 ] || fail "recording: exit status $status; output: $(cat "$tmp/game.out" "$tmp/game.err")"
[ -f "$tmp/drive.keys" ] || fail "no demo written"
frames=$(demo_frames "$tmp/drive.keys")
[ "$(asked)" = $((frames + 1)) ] || fail "the game showed $(($(asked) - 1)) frames, the demo holds $frames"
for key in up left right stop esc; do
    grep -q " $key" "$tmp/drive.keys" || fail "the demo never holds $key: $(cat "$tmp/drive.keys")"
done
shot=$(ls "$tmp/pictures/polydrive"/*.png 2>/dev/null | head -n 1)
[ -n "$shot" ] || fail "F12 wrote nothing: $(cat "$tmp/game.err")"
echo "$name: recorded $frames frames in $(($(wc -l <"$tmp/drive.keys") - 1)) lines"

# 2. Its replay ends on the frame the window showed last.
"$recorder" --keys "$tmp/drive.keys" --frames "$frames" --every "$frames" --raw --out "$tmp/rec" >"$tmp/rec.log" 2>&1 ||
    fail "recorder: $(cat "$tmp/rec.log")"
last=$(printf '%s/rec/frame_%05d' "$tmp" "$frames")
[ -f "$last.bin" ] || fail "the replay ended before frame $frames"
convert "$last.png" -depth 8 "rgb:$tmp/last.rgb" || fail "cannot read the replayed frame"
python3 "$here/same_frame.py" "$shot" "$last.bin" "$tmp/last.rgb" || fail "the replay's last frame is not the window's"
cmp -s "$(printf '%s/rec/frame_%05d.bin' "$tmp" 1)" "$last.bin" && fail "the drive did not move the car"

# 3. Played back: the same number of frames, at the game's pace, ending on
# the same frame (F12 pressed every 0.3 s: the last shot falls in the still end).
rm -rf "$tmp/pictures"
start=$(date +%s%N)
run_game --play-demo "$tmp/drive.keys"
while kill -0 "$game_pid" 2>/dev/null; do
    xdotool key --window "$wid" F12 2>/dev/null
    sleep 0.3
done
wait_exit 10
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[ "$status" -eq 0 ] || fail "playing: exit status $status; output: $(cat "$tmp/game.out" "$tmp/game.err")"
[ "$(asked)" = $((frames + 1)) ] || fail "playing showed $(($(asked) - 1)) frames of $frames"
[ "$elapsed_ms" -ge $((frames * 1000 / 71)) ] || fail "$frames frames played in $elapsed_ms ms: faster than 70 a second"
shot=$(ls -t "$tmp/pictures/polydrive"/*.png 2>/dev/null | head -n 1)
[ -n "$shot" ] || fail "no screenshot while playing: $(cat "$tmp/game.err")"
python3 "$here/same_frame.py" "$shot" "$last.bin" "$tmp/last.rgb" || fail "playing did not end on the recorded frame"
echo "$name: played $frames frames in $elapsed_ms ms, ending on the recorded frame"

# 4. Escape ends a demo being played.
run_game --play-demo "$tmp/drive.keys"
sleep 0.5
hold Escape 0.1
wait_exit 10
[ "$status" -eq 0 ] || fail "Escape while playing: exit status $status"
[ "$(asked)" -lt $((frames + 1)) ] || fail "Escape did not end the demo early"

# 5. SIGTERM or SIGHUP while recording still leaves a whole demo, and no
# temporary file.
for signal in TERM:143 HUP:129; do
    sig=${signal%:*} code=${signal#*:}
    run_game --record-demo "$tmp/$sig.keys"
    sleep 0.5   # keys pressed before the game takes the keyboard are not its own
    hold Up 0.7
    kill -"$sig" "$game_pid"
    wait_exit 10
    [ "$status" -eq "$code" ] || fail "SIG$sig: exit status $status; output: $(cat "$tmp/game.out" "$tmp/game.err")"
    [ -f "$tmp/$sig.keys" ] || fail "SIG$sig left no demo"
    term_frames=$(demo_frames "$tmp/$sig.keys")
    [ "$(asked)" = $((term_frames + 1)) ] || fail "the game showed $(($(asked) - 1)) frames, its demo holds $term_frames"
    grep -q " up" "$tmp/$sig.keys" || fail "the demo lost the drive: $(cat "$tmp/$sig.keys")"
    ls "$tmp" | grep -q '\.tmp-' && fail "a temporary file was left: $(ls "$tmp")"
    "$recorder" --keys "$tmp/$sig.keys" --frames "$term_frames" --every "$term_frames" --out "$tmp/rec-$sig" >"$tmp/rec.log" 2>&1 ||
        fail "recorder refused the SIG$sig demo: $(cat "$tmp/rec.log")"
    echo "$name: SIG$sig left a whole demo of $term_frames frames"
done
