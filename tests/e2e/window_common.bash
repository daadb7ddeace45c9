# Shared by the tests/e2e/window_*.sh scripts (sourced, not run): a display
# of its own in Xvfb, the game started in it, and waits that never hang.
# The caller sets `name` (used in messages) and passes the build folder as $1.
set -u

build=${1:?usage: bash tests/e2e/$name.sh BUILD_DIR}
game=${POLYDRIVE_GAME:-$build/polydrive}   # another copy of the game, for the install tests
[ -x "$game" ] || { echo "$name: $game not built" >&2; exit 1; }

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
    echo "$name: $*" >&2
    exit 1
}
need() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || fail "$tool is not installed"
    done
}

# Xvfb picks a free display number and writes it to fd 3.
start_display() {
    need Xvfb
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$tmp/display" ] && break
        sleep 0.1
    done
    [ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
    export DISPLAY=":$(head -n 1 "$tmp/display")"
}

# Starts the game (after any wrapper words given) with its output in files.
start_game() {
    "$@" "$game" >"$tmp/game.out" 2>"$tmp/game.err" &
    game_pid=$!
}

# Sets wid to the game's window once it is shown (its title is the game's
# name, then its status line).
wait_window() {
    need xdotool
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^polydrive( .*)?$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] || fail "no window appeared; game said: $(cat "$tmp/game.out" "$tmp/game.err")"
}

# Sets status to the game's exit status; fails after $1 seconds.
wait_exit() {
    status=""
    for _ in $(seq $(($1 * 10))); do
        if ! kill -0 "$game_pid" 2>/dev/null; then
            wait "$game_pid" 2>/dev/null
            status=$?
            break
        fi
        sleep 0.1
    done
    [ -n "$status" ] || fail "the game was still running after $1 seconds"
    game_pid=""
}

# A game that ended by its own path leaves no window and printed nothing.
expect_clean_end() {
    need xwininfo
    xwininfo -id "$wid" >/dev/null 2>&1 && fail "the window is still there"
    [ -s "$tmp/game.out" ] && fail "the game printed: $(cat "$tmp/game.out")"
    return 0
}

# Sets tracer to the wrapper words that record, in $tmp/trace, the game's
# closes and kills and the arrival of signal $1 (empty when strace cannot
# run here). strace passes the traced program's end on: it dies by the same
# signal.
trace_signal() {
    tracer=()
    if command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null; then
        tracer=(strace -f -qq -o "$tmp/trace" -e trace=close,tgkill,kill -e "signal=$1")
    else
        echo "$name: strace not usable here; the shutdown order is not traced"
    fi
}

# With a trace: after signal $1 arrived (its si_code $2), the shutdown closed
# something (the X connection) before the program raised $1 again on itself,
# and it died by $1.
expect_shutdown_order() {
    [ ${#tracer[@]} -gt 0 ] || return 0
    local signal=$1 code=$2 arrived close_line raise_line
    arrived=$(grep -n -m 1 -E "$signal \\{si_signo=$signal, si_code=$code" "$tmp/trace" | cut -d: -f1)
    [ -n "$arrived" ] || fail "no $signal in the trace"
    close_line=$(tail -n +"$arrived" "$tmp/trace" | grep -n -m 1 -E ' close\(' | cut -d: -f1)
    raise_line=$(tail -n +"$arrived" "$tmp/trace" | grep -n -m 1 -E "(tgkill|kill)\\(.*$signal\\)" | cut -d: -f1)
    [ -n "$close_line" ] || fail "nothing was closed after $signal: the shutdown did not run"
    [ -n "$raise_line" ] || fail "the program did not raise $signal again after its shutdown"
    [ "$close_line" -lt "$raise_line" ] || fail "$signal was raised again before the shutdown closed anything"
    grep -q "+++ killed by $signal +++" "$tmp/trace" || fail "the trace does not end by $signal"
    echo "$name: traced: $signal, then the shutdown closed the display, then $signal raised again"
}
