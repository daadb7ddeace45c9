#!/usr/bin/env bash
# The 60-second limit ends a game left alone in a real window: the loop ends,
# the shutdown closes the window, and the process dies by SIGALRM (status 142
# as bash reports it). Takes a little over a minute; nothing is shortened.
#
#   bash tests/e2e/alarm.sh BUILD_DIR      (from the repository root)
#
# With strace present, the order is checked too: the alarm arrives, the X
# connection is closed by the shutdown, and only then the program raises
# SIGALRM again on itself and dies by it. Before dying the game says why on
# standard error, so the window's going does not look like a crash.
name=alarm
source "$(dirname "$0")/window_common.bash"

start_display
trace_signal SIGALRM
start=$SECONDS
start_game "${tracer[@]}"
wait_window
wait_exit 90
elapsed=$((SECONDS - start))
[ "$status" -eq 142 ] || fail "exit status $status, not 142 (SIGALRM); output: $(cat "$tmp/game.out")"
[ "$elapsed" -ge 58 ] || fail "ended after $elapsed s, before the 60-second limit"
expect_clean_end
grep -qx 'time is up: a game lasts 60 seconds' "$tmp/game.err" ||
    fail "no end-of-game line on standard error: $(cat "$tmp/game.err")"

expect_shutdown_order SIGALRM SI_KERNEL
echo "$name: after $elapsed s the game said time is up, ended by SIGALRM (status 142) and its window is closed"
