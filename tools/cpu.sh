#!/usr/bin/env bash
# Measures the game's processor time (user + system, from /proc/PID/stat) in
# Xvfb over SECONDS (default 10) of a parked car, of driving (cursor up and
# left held through xdotool: the car circles, and stands still while it
# pushes against something) and of turning on the spot (cursor left held:
# every frame differs), after two seconds of settling each. With
# POLYDRIVE_COUNT_PRESENTS=1 in the environment the game's count of presents
# shown follows each figure.
#
#   bash tools/cpu.sh [GAME] [SECONDS]      (from the repository root)
set -u
game=${1:-build/polydrive}
seconds=${2:-10}
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$tmp/display")"
ticks=$(getconf CLK_TCK)

cpu_of() { awk '{print $14 + $15}' "/proc/$1/stat"; }

measure() {   # $1: parked, driving or turning
    "$game" >/dev/null 2>"$tmp/$1.err" &
    local pid=$! wid
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^polydrive( .*)?$' | head -n 1)
    xdotool windowfocus --sync "$wid" 2>/dev/null
    [ "$1" = driving ] && xdotool keydown --window "$wid" Up Left
    [ "$1" = turning ] && xdotool keydown --window "$wid" Left
    sleep 2
    local before after
    before=$(cpu_of $pid)
    sleep "$seconds"
    after=$(cpu_of $pid)
    [ "$1" = driving ] && xdotool keyup --window "$wid" Up Left
    [ "$1" = turning ] && xdotool keyup --window "$wid" Left
    xdotool key --window "$wid" Escape
    wait $pid
    awk -v t=$((after - before)) -v hz="$ticks" -v s="$seconds" -v what="$1" \
        'BEGIN { printf "%s: %.2f s of processor time in %d s (%.1f %% of a core)\n", what, t / hz, s, 100 * t / hz / s }'
    [ -s "$tmp/$1.err" ] && sed "s/^/    /" "$tmp/$1.err"
}
measure parked
measure driving
measure turning
