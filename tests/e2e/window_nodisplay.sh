#!/usr/bin/env bash
# With no display to open, the game ends through its fatal-error path: one
# line "Fatal error: cannot initialize video (...)" and status 1, no crash.
#
#   bash tests/e2e/window_nodisplay.sh BUILD_DIR      (from the repository root)
name=window_nodisplay
source "$(dirname "$0")/window_common.bash"

# A display that cannot exist, and the X11 driver only, so that no other
# video driver (a console one, say) is tried instead.
DISPLAY=:65000 SDL_VIDEODRIVER=x11 timeout 20 "$game" >"$tmp/game.out" 2>"$tmp/game.err"
status=$?
[ "$status" -eq 1 ] || fail "exit status $status, not 1; output: $(cat "$tmp/game.out" "$tmp/game.err")"
lines=$(wc -l <"$tmp/game.out")
[ "$lines" -eq 1 ] || fail "expected one line, got: $(cat "$tmp/game.out")"
grep -q '^Fatal error: cannot initialize video (.*)$' "$tmp/game.out" ||
    fail "unexpected message: $(cat "$tmp/game.out")"
echo "$name: $(cat "$tmp/game.out") (status 1)"
