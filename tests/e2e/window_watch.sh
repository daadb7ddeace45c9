#!/usr/bin/env bash
# polydrive --watch in a real window: a level compiled into the data folder
# while the game runs changes the picture; a truncated one is one line on
# standard error and the game goes on with the last good picture; SIGTERM
# ends it as usual and the private copy of the folder is gone.
#
#   bash tests/e2e/window_watch.sh BUILD_DIR      (from the repository root)
name=window_watch
source "$(dirname "$0")/window_common.bash"
need import
levelc=$build/tools/levelc
[ -x "$levelc" ] || fail "$levelc not built"

cp -r lib "$tmp/lib"
export TMPDIR=$tmp
start_display
"$game" --watch --data "$tmp/lib" >"$tmp/game.out" 2>"$tmp/game.err" &
game_pid=$!
wait_window
sleep 1

# The window's picture; the game draws a changed frame only when it changes.
shot() { import -window "$wid" "rgb:$tmp/$1.rgb" 2>/dev/null || fail "cannot read the window"; }
# Waits until the error output holds line $1 (at most 10 s).
said() {
    for _ in $(seq 100); do
        grep -q "$1" "$tmp/game.err" && return 0
        sleep 0.1
    done
    fail "the game did not say '$1': $(cat "$tmp/game.err")"
}
shot before
sed 's/quad grey 200 3 2 1 0/quad blue 200 3 2 1 0/' assets/level1.world >"$tmp/blue.world"
cp assets/car.obj assets/car.mtl "$tmp/"
"$levelc" "$tmp/blue.world" -o "$tmp/lib/level1.3dw" || fail "levelc failed"
said "level reloaded"
sleep 0.5
shot blue
cmp -s "$tmp/before.rgb" "$tmp/blue.rgb" && fail "the changed level did not change the picture"

head -c 100 lib/level1.3dw >"$tmp/cut" && mv "$tmp/cut" "$tmp/lib/level1.3dw"
said "the changed level does not load"
sleep 0.5
kill -0 "$game_pid" 2>/dev/null || fail "a broken level ended the game"
shot kept
cmp -s "$tmp/blue.rgb" "$tmp/kept.rgb" || fail "the last good level is not on screen"
[ "$(grep -c . "$tmp/game.err")" -eq 2 ] || fail "more than one line a reload: $(cat "$tmp/game.err")"

kill -TERM "$game_pid"
wait_exit 10
[ "$status" -eq 143 ] || fail "exit status $status, not 143 (SIGTERM)"
ls -d "$tmp"/polydrive-watch-* 2>/dev/null && fail "the private copy is left behind"
echo "$name: a compiled level reloaded, a broken one was survived, the copy removed"
