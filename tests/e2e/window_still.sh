#!/usr/bin/env bash
# A still picture costs nothing: with the car parked, the window presents a
# frame only when it changed (the first frames), though the game still asks
# for about 70 presents a second; driving, nearly every frame is presented.
#
#   bash tests/e2e/window_still.sh BUILD_DIR      (from the repository root)
#
# POLYDRIVE_COUNT_PRESENTS makes the window backend print, at its close,
# "polydrive: SHOWN of ASKED presents shown" on standard error.
name=window_still
source "$(dirname "$0")/window_common.bash"

counts() {
    sed -n 's/^polydrive: \([0-9]*\) of \([0-9]*\) presents shown$/\1 \2/p' "$tmp/game.err"
}
end_game() {
    xdotool keydown --window "$wid" Escape
    sleep 0.1
    xdotool keyup --window "$wid" Escape
    wait_exit 10
    [ "$status" -eq 0 ] || fail "exit status $status; output: $(cat "$tmp/game.out" "$tmp/game.err")"
}

start_display
start_game env POLYDRIVE_COUNT_PRESENTS=1
wait_window
sleep 4
end_game
read -r shown asked < <(counts)
[ -n "$asked" ] || fail "no count printed: $(cat "$tmp/game.err")"
[ "$asked" -ge 140 ] || fail "only $asked presents asked for in 4 s"
# The palette load, the first frame, and a redraw or two when the window is
# mapped and exposed: a handful, not one a frame.
[ "$shown" -le 8 ] || fail "parked: $shown of $asked presents reached the screen"
echo "$name: parked for 4 s: $shown of $asked presents reached the screen"

start_game env POLYDRIVE_COUNT_PRESENTS=1
wait_window
sleep 0.5
timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
xdotool keydown --window "$wid" Up Left
sleep 2
xdotool keyup --window "$wid" Up Left
end_game
read -r shown asked < <(counts)
[ "$shown" -ge 100 ] || fail "driving: only $shown of $asked presents reached the screen"
echo "$name: driving: $shown of $asked presents reached the screen"
