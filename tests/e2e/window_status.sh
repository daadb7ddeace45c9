#!/usr/bin/env bash
# The window's title tells the time left and the speed, and says "paused"
# while P holds the game; the time left does not run down during the pause.
# With --map the map shows to the right of the picture, which is otherwise
# the game's own.
#
#   bash tests/e2e/window_status.sh BUILD_DIR      (from the repository root)
name=window_status
source "$(dirname "$0")/window_common.bash"
need xdotool import

title() { xdotool getwindowname "$wid" 2>/dev/null; }
seconds_left() { title | sed -n 's/^polydrive · \([a-z]* · \)\{0,1\}\([0-9]*\) s left · [0-9]* km\/h$/\2/p'; }
press() {
    xdotool keydown --window "$wid" "$1"
    sleep 0.2
    xdotool keyup --window "$wid" "$1"
}

start_display
"$game" --map >"$tmp/game.out" 2>"$tmp/game.err" &
game_pid=$!
wait_window
timeout 5 xdotool windowfocus --sync "$wid" 2>/dev/null
sleep 0.5
t=$(title)
[[ $t =~ ^polydrive\ ·\ (59|60)\ s\ left\ ·\ 0\ km/h$ ]] || fail "title at the start: '$t'"

xdotool keydown --window "$wid" Up
sleep 1
xdotool keyup --window "$wid" Up
sleep 0.3
t=$(title)
[[ $t =~ ·\ ([0-9]+)\ km/h$ ]] && [ "${BASH_REMATCH[1]}" -gt 0 ] || fail "no speed after driving: '$t'"

# The map is drawn in the column right of the 4:3 picture (the window is
# 960x720; the picture takes 768 of it at this size).
import -window "$wid" "$tmp/shot.png"
colours=$(convert "$tmp/shot.png" -crop 192x200+768+0 +repage -unique-colors -format '%w' info:)
[ "$colours" -ge 4 ] || fail "the column beside the picture holds $colours colours, no map"

press p
sleep 0.3
t=$(title)
[[ $t == "polydrive · paused · "* ]] || fail "title while paused: '$t'"
before=$(seconds_left)
sleep 2.5
after=$(seconds_left)
[ "$before" = "$after" ] || fail "the time left ran from $before to $after s during the pause"
press p
sleep 0.3
t=$(title)
[[ $t != *paused* ]] || fail "still paused after P again: '$t'"

press Escape
wait_exit 10
[ "$status" -eq 0 ] || fail "exit status $status after Escape; output: $(cat "$tmp/game.out")"
expect_clean_end
echo "$name: the title told time and speed ('$t'), said paused and held the clock; the map showed beside the picture"
