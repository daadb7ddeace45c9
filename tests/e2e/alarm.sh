#!/usr/bin/env bash
# The 60-second limit ends a game left alone in a real window: the loop ends,
# the shutdown closes the window, and the process dies by SIGALRM (status 142
# as bash reports it). Takes a little over a minute; nothing is shortened.
#
#   bash tests/e2e/alarm.sh BUILD_DIR      (from the repository root)
#
# With strace present, the order is checked too: the alarm arrives, the X
# connection is closed by the shutdown, and only then the program raises
# SIGALRM again on itself and dies by it.
name=alarm
source "$(dirname "$0")/window_common.bash"

start_display
# strace passes the traced program's end on: it dies by the same signal.
tracer=()
if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
    tracer=(strace -f -qq -o "$tmp/trace" -e trace=close,tgkill,kill -e signal=SIGALRM)
else
    echo "$name: strace not usable here; the shutdown order is not traced"
fi
start=$SECONDS
start_game "${tracer[@]}"
wait_window
wait_exit 90
elapsed=$((SECONDS - start))
[ "$status" -eq 142 ] || fail "exit status $status, not 142 (SIGALRM); output: $(cat "$tmp/game.out")"
[ "$elapsed" -ge 58 ] || fail "ended after $elapsed s, before the 60-second limit"
expect_clean_end

if [ ${#tracer[@]} -gt 0 ]; then
    # The first line of each event, in the traced program's own order.
    alarm_line=$(grep -n -m 1 -E 'SIGALRM \{si_signo=SIGALRM, si_code=SI_KERNEL' "$tmp/trace" | cut -d: -f1)
    [ -n "$alarm_line" ] || fail "no alarm in the trace"
    close_line=$(tail -n +"$alarm_line" "$tmp/trace" | grep -n -m 1 -E ' close\(' | cut -d: -f1)
    raise_line=$(tail -n +"$alarm_line" "$tmp/trace" | grep -n -m 1 -E '(tgkill|kill)\(.*SIGALRM\)' | cut -d: -f1)
    [ -n "$close_line" ] || fail "nothing was closed after the alarm: the shutdown did not run"
    [ -n "$raise_line" ] || fail "the program did not raise SIGALRM again after its shutdown"
    [ "$close_line" -lt "$raise_line" ] || fail "SIGALRM was raised again before the shutdown closed anything"
    grep -q '+++ killed by SIGALRM +++' "$tmp/trace" || fail "the trace does not end by SIGALRM"
    echo "$name: traced: alarm, then the shutdown closed the display, then SIGALRM raised again"
fi
echo "$name: after $elapsed s the game ended by SIGALRM (status 142) and its window is closed"
