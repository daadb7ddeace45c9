# Shared by the tests/e2e/window_*.sh scripts (sourced, not run): a display
# of its own in Xvfb, the game started in it, and waits that never hang.
# The caller sets `name` (used in messages) and passes the build folder as $1.
set -u

build=${1:?usage: bash tests/e2e/$name.sh BUILD_DIR}
game="$build/polydrive"
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

# Sets wid to the game's window once it is shown.
wait_window() {
    need xdotool
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^polydrive$' 2>/dev/null | head -n 1)
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
