#!/usr/bin/env bash
# The 60-second limit ends a game left alone in a real window: the loop ends,
# the shutdown closes the window, and the process dies by SIGALRM (status 142
# as bash reports it). Takes a little over a minute; nothing is shortened.
#
#   bash tests/e2e/alarm.sh BUILD_DIR      (from the repository root)
#
# Needs Xvfb, xdotool and xwininfo. With strace present, the order is checked
# too: the alarm arrives, the X connection is closed by the shutdown, and only
# then the program raises SIGALRM again on itself and dies by it.
set -u

build=${1:?usage: bash tests/e2e/alarm.sh BUILD_DIR}
game="$build/polydrive"
for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "alarm: $tool is not installed" >&2; exit 1; }
done
[ -x "$game" ] || { echo "alarm: $game not built" >&2; exit 1; }

tmp=$(mktemp -d)
xvfb_pid=""
game_pid=""
cleanup() {
    [ -n "$game_pid" ] && kill -9 "$game_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "alarm: $*" >&2
    exit 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
done
[ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=":$(head -n 1 "$tmp/display")"

# strace passes the traced program's end on: it dies by the same signal.
tracer=()
if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
    tracer=(strace -f -qq -o "$tmp/trace" -e trace=close,tgkill,kill -e signal=SIGALRM)
else
    echo "alarm: strace not usable here; the shutdown order is not traced"
fi

start=$SECONDS
"${tracer[@]}" "$game" >"$tmp/game.out" 2>"$tmp/game.err" &
game_pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^polydrive$' 2>/dev/null | head -n 1)
[ -n "$wid" ] || fail "no window appeared; game said: $(cat "$tmp/game.out" "$tmp/game.err")"

status=""
for _ in $(seq 900); do   # up to 90 seconds
    if ! kill -0 "$game_pid" 2>/dev/null; then
        wait "$game_pid" 2>/dev/null
        status=$?
        break
    fi
    sleep 0.1
done
elapsed=$((SECONDS - start))
[ -n "$status" ] || fail "the game was still running after 90 seconds"
game_pid=""

[ "$status" -eq 142 ] || fail "exit status $status, not 142 (SIGALRM); output: $(cat "$tmp/game.out")"
[ "$elapsed" -ge 58 ] || fail "ended after $elapsed s, before the 60-second limit"
xwininfo -id "$wid" >/dev/null 2>&1 && fail "the window is still there"
[ -s "$tmp/game.out" ] && fail "the game printed: $(cat "$tmp/game.out")"

if [ ${#tracer[@]} -gt 0 ]; then
    # The first line of each event, in the traced program's own order.
    line_of() { grep -n -m 1 -E "$1" "$tmp/trace" | cut -d: -f1; }
    alarm_line=$(line_of 'SIGALRM \{si_signo=SIGALRM, si_code=SI_KERNEL')
    [ -n "$alarm_line" ] || fail "no alarm in the trace"
    close_line=$(tail -n +"$alarm_line" "$tmp/trace" | grep -n -m 1 -E ' close\(' | cut -d: -f1)
    raise_line=$(tail -n +"$alarm_line" "$tmp/trace" | grep -n -m 1 -E '(tgkill|kill)\(.*SIGALRM\)' | cut -d: -f1)
    [ -n "$close_line" ] || fail "nothing was closed after the alarm: the shutdown did not run"
    [ -n "$raise_line" ] || fail "the program did not raise SIGALRM again after its shutdown"
    [ "$close_line" -lt "$raise_line" ] || fail "SIGALRM was raised again before the shutdown closed anything"
    grep -q '+++ killed by SIGALRM +++' "$tmp/trace" || fail "the trace does not end by SIGALRM"
    echo "alarm: traced: alarm, then the shutdown closed the display, then SIGALRM raised again"
fi
echo "alarm: after $elapsed s the game ended by SIGALRM (status 142) and its window is closed"
