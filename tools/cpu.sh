#!/usr/bin/env bash
# Measures the game's processor time (user + system, from /proc/PID/stat) in
# Xvfb over SECONDS (default 10) of a parked car and of driving (cursor up and
# left held through xdotool), after two seconds of settling each.
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

measure() {   # $1: parked or driving
    "$game" >/dev/null 2>&1 &
    local pid=$! wid
    wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^polydrive$' | head -n 1)
    xdotool windowfocus --sync "$wid" 2>/dev/null
    [ "$1" = driving ] && xdotool keydown --window "$wid" Up Left
    sleep 2
    local before after
    before=$(cpu_of $pid)
    sleep "$seconds"
    after=$(cpu_of $pid)
    [ "$1" = driving ] && xdotool keyup --window "$wid" Up Left
    xdotool key --window "$wid" Escape
    wait $pid
    awk -v t=$((after - before)) -v hz="$ticks" -v s="$seconds" -v what="$1" \
        'BEGIN { printf "%s: %.2f s of processor time in %d s (%.1f %% of a core)\n", what, t / hz, s, 100 * t / hz / s }'
}
measure parked
measure driving
