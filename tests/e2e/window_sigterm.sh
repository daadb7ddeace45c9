#!/usr/bin/env bash
# SIGTERM ends a running game: the loop ends, the shutdown closes the
# window, and the process then dies by SIGTERM (status 143 as bash reports
# it), having printed nothing.
#
#   bash tests/e2e/window_sigterm.sh BUILD_DIR      (from the repository root)
#
# With strace present the order is checked too: SIGTERM arrives, the
# shutdown closes the X connection, and only then the program raises SIGTERM
# again on itself and dies by it.
name=window_sigterm
source "$(dirname "$0")/window_common.bash"

start_display
trace_signal SIGTERM
start_game "${tracer[@]}"
wait_window
sleep 0.5   # a few frames, so the game is in its loop

# Signal the game itself, not strace (which would pass it on differently).
target=$game_pid
if [ ${#tracer[@]} -gt 0 ]; then
    for _ in $(seq 50); do
        target=$(pgrep -P "$game_pid" -x polydrive | head -n 1)
        [ -n "$target" ] && break
        sleep 0.1
    done
    [ -n "$target" ] || fail "cannot find the traced game's process"
fi
kill -TERM "$target"
wait_exit 10
[ "$status" -eq 143 ] || fail "exit status $status, not 143 (SIGTERM); output: $(cat "$tmp/game.out")"
expect_clean_end

expect_shutdown_order SIGTERM SI_USER
echo "$name: SIGTERM ended the game (status 143) after its shutdown closed the window"
