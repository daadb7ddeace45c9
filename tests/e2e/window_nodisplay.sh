#!/usr/bin/env bash
# With no display to open, the game ends through its fatal-error path: one
# line "Fatal error: cannot initialize video (...)" on standard output and
# status 1, no crash, no other line on standard error, and no game running
# unseen in a memory-only driver.
#
#   bash tests/e2e/window_nodisplay.sh BUILD_DIR      (from the repository root)
name=window_nodisplay
source "$(dirname "$0")/window_common.bash"

# Runs the game with the given environment changes; expects the fatal line.
expect_no_video() {
    env "$@" timeout 20 "$game" >"$tmp/game.out" 2>"$tmp/game.err"
    status=$?
    [ "$status" -eq 1 ] || fail "exit status $status, not 1 ($*); output: $(cat "$tmp/game.out" "$tmp/game.err")"
    [ "$(wc -l <"$tmp/game.out")" -eq 1 ] || fail "expected one line ($*), got: $(cat "$tmp/game.out")"
    grep -q '^Fatal error: cannot initialize video (.*)$' "$tmp/game.out" ||
        fail "unexpected message ($*): $(cat "$tmp/game.out")"
    # Only the game's line: none of the drivers' own complaints before it.
    [ ! -s "$tmp/game.err" ] || fail "standard error ($*): $(cat "$tmp/game.err")"
    echo "$name: $* -> $(cat "$tmp/game.out") (status 1)"
}

# A display that cannot exist, with the X11 driver only.
expect_no_video DISPLAY=:65000 SDL_VIDEODRIVER=x11
# No display named at all: every driver that would show something fails,
# unless this machine has a Wayland session or a console graphics device.
if [ -z "${WAYLAND_DISPLAY:-}" ] && ! ls /dev/dri/card* >/dev/null 2>&1; then
    expect_no_video -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER
    expect_no_video -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u XDG_RUNTIME_DIR
else
    echo "$name: a Wayland session or /dev/dri is present; the no-display case is skipped"
fi
