#!/usr/bin/env bash
# Endurance run: plays games headless, one process per game (a full start-up,
# level load, loop and shutdown each, as a person starts the program), until
# FRAMES frames have been played. Each game lasts at most 4200 frames, the
# 60-second limit at 70 frames a second; some end early by Escape.
#
#   bash tools/soak.sh FRAMES [BUILD_DIR] [FIRST_GAME] [SOAK_OPTION...]
#
# SOAK_OPTIONs go to every game, e.g. --level 3 --limits raised.
# BUILD_DIR (default: build) must hold tools/polydrive-soak. Run from the
# repository root, where lib/ is. Built with -DPOLYDRIVE_SANITIZE=ON, every
# game also runs under ASan, LeakSanitizer and UBSan; any report, fatal
# error, or heap growth within a game fails the run, naming the game and the
# command that replays it. Example, the full run:
#
#   bash tools/soak.sh 1000000 build-asan
set -u

frames=${1:?usage: bash tools/soak.sh FRAMES [BUILD_DIR] [FIRST_GAME]}
build=${2:-build}
game=${3:-0}
shift $(($# < 3 ? $# : 3))
bin="$build/tools/polydrive-soak"

if ! [[ "$frames" =~ ^[0-9]+$ ]] || [ "$frames" -lt 1 ]; then
    echo "soak: FRAMES must be a positive whole number" >&2
    exit 2
fi
if [ ! -x "$bin" ]; then
    echo "soak: $bin not found; build it with: cmake --build $build --target polydrive-soak" >&2
    exit 2
fi
if [ ! -f lib/level1.3dw ]; then
    echo "soak: run from the repository root (lib/level1.3dw not found)" >&2
    exit 2
fi

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=0:exitcode=86${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

total=0
games=0
start=$SECONDS
while [ "$total" -lt "$frames" ]; do
    want=$((frames - total))
    [ "$want" -gt 4200 ] && want=4200
    out=$("$bin" --game "$game" --frames "$want" "$@" 2>&1)
    status=$?
    played=$(printf '%s\n' "$out" | sed -n 's/^game [0-9]*: \([0-9]*\) frames$/\1/p' | tail -n 1)
    if [ "$status" -ne 0 ] || [ -z "$played" ] || [ -n "$(printf '%s\n' "$out" | grep -v '^game [0-9]*: [0-9]* frames$')" ]; then
        printf '%s\n' "$out" >&2
        echo "soak: game $game failed (exit status $status); replay with:" >&2
        echo "  $bin --game $game --frames $want $*" >&2
        exit 1
    fi
    total=$((total + played))
    games=$((games + 1))
    game=$((game + 1))
done
echo "soak: $total frames in $games games ($((SECONDS - start)) s), no fault"
