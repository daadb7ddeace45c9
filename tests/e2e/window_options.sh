#!/usr/bin/env bash
# --window opens the window at the size asked for, --fullscreen fills the
# screen (and wins over --window); Escape still ends the game with status 0.
# A window manager (openbox) runs in the display, since fullscreen is a
# request to it.
#
#   bash tests/e2e/window_options.sh BUILD_DIR      (from the repository root)
name=window_options
source "$(dirname "$0")/window_common.bash"
need xwininfo xdotool openbox
real_game=$game
game=$tmp/game-with-options
start_display
openbox --sm-disable >"$tmp/openbox.log" 2>&1 &
# The window manager is up once it has claimed the screen.
for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done

# The window found first may be replaced while the renderer starts (a new
# window of the same name), so each look searches again. Sets wid and got.
look() {
    got=""
    wid=$(xdotool search --onlyvisible --name '^polydrive( .*)?$' 2>/dev/null | tail -n 1)
    [ -n "$wid" ] || return 0
    got=$(xwininfo -id "$wid" 2>/dev/null | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w "x" h}')
}
while read -r want args; do
    # start_game puts words before the game only: a wrapper adds the options.
    printf '#!/bin/sh\nexec "%s" %s\n' "$real_game" "$args" >"$game"
    chmod +x "$game"
    start_game
    for _ in $(seq 200); do
        look
        [ "$got" = "$want" ] && break
        sleep 0.1
    done
    [ "$got" = "$want" ] ||
        fail "polydrive $args: window '$got', not $want; game said: $(cat "$tmp/game.out" "$tmp/game.err")"
    # Keys go to the focused window, as a person's would. Keys pressed before
    # the game takes over the keyboard are dropped, so Escape is pressed
    # again until the game ends.
    for _ in $(seq 10); do
        xdotool windowactivate --sync "$wid" 2>/dev/null
        xdotool keydown Escape
        sleep 0.1
        xdotool keyup Escape
        for _ in $(seq 10); do
            kill -0 "$game_pid" 2>/dev/null || break 2
            sleep 0.1
        done
    done
    wait_exit 10
    [ "$status" -eq 0 ] || fail "polydrive $args: exit status $status after Escape: $(cat "$tmp/game.out" "$tmp/game.err")"
    echo "$name: polydrive $args: window $got, Escape ended it"
done <<'TABLE'
640x400 --window 640x400
1000x750 --window 1000x750
1280x1024 --fullscreen
1280x1024 --window 800x600 --fullscreen
TABLE
