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
# strace passes the traced program's end on: it dies by the same signal.
tracer=()
if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
    tracer=(strace -f -qq -o "$tmp/trace" -e trace=close,tgkill,kill -e signal=SIGTERM)
else
    echo "$name: strace not usable here; the shutdown order is not traced"
fi
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

if [ ${#tracer[@]} -gt 0 ]; then
    line_of() { grep -n -m 1 -E "$1" "$tmp/trace" | cut -d: -f1; }
    term_line=$(line_of 'SIGTERM \{si_signo=SIGTERM, si_code=SI_USER')
    [ -n "$term_line" ] || fail "no SIGTERM in the trace"
    close_line=$(tail -n +"$term_line" "$tmp/trace" | grep -n -m 1 -E ' close\(' | cut -d: -f1)
    raise_line=$(tail -n +"$term_line" "$tmp/trace" | grep -n -m 1 -E '(tgkill|kill)\(.*SIGTERM\)' | cut -d: -f1)
    [ -n "$close_line" ] || fail "nothing was closed after SIGTERM: the shutdown did not run"
    [ -n "$raise_line" ] || fail "the program did not raise SIGTERM again after its shutdown"
    [ "$close_line" -lt "$raise_line" ] || fail "SIGTERM was raised again before the shutdown closed anything"
    grep -q '+++ killed by SIGTERM +++' "$tmp/trace" || fail "the trace does not end by SIGTERM"
    echo "$name: traced: SIGTERM, then the shutdown closed the display, then SIGTERM raised again"
fi
echo "$name: SIGTERM ended the game (status 143) after its shutdown closed the window"
