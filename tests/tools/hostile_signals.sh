#!/usr/bin/env bash
# SIGINT and SIGTERM end each long-running program within a second, by the
# signal (status 128 + its number), leaving no temporary file or folder:
# levelcheck in a long check, the recorder in a long recording, the soak
# player in a long game.
#   bash tests/tools/hostile_signals.sh BUILD_DIR WORK_DIR
source "$(dirname "$0")/hostile_common.bash"

lib_run=$work/run; fresh_lib "$lib_run"
mkdir -p "$work/tmp" "$work/frames"
long_runs=(
  "levelcheck|$levelcheck $lib_run/lib --grid 1000 --headings 1440"
  "recorder|$record --frames 100000000 --raw --out $work/frames"
  "soak|$soak --game 7 --frames 100000000"
)
for case in "${long_runs[@]}"; do
  name=${case%%|*} command=${case#*|}
  for sig in INT TERM; do
    # shellcheck disable=SC2086
    (cd "$lib_run" && TMPDIR=$work/tmp exec $command >/dev/null 2>"$work/err") &
    pid=$!
    sleep 1   # well into its work
    kill -0 $pid 2>/dev/null || { fail "$name ended before SIG$sig: $(cat "$work/err")"; continue; }
    kill -s "$sig" $pid
    ended=""
    for _ in $(seq 20); do
      kill -0 $pid 2>/dev/null || { ended=1; break; }
      sleep 0.05
    done
    if [ -z "$ended" ]; then
      fail "$name still ran a second after SIG$sig"
      kill -9 $pid
    fi
    wait $pid
    code=$?
    want=$((128 + $(kill -l "$sig")))
    [ $code -eq $want ] || fail "$name ended by SIG$sig with status $code, not $want: $(cat "$work/err")"
    [ -z "$(ls -A "$work/tmp")" ] || fail "$name left a scratch folder: $(ls "$work/tmp")"
    ls "$work/frames" | grep -q '\.tmp-' && fail "$name left a temporary frame file"
    [ -s "$work/err" ] && fail "$name printed on SIG$sig: $(cat "$work/err")"
    rm -f "$work/frames"/*
  done
done
# A long check shows its progress on a terminal (here the pseudo-terminal of
# script(1)), and only there.
if command -v script >/dev/null; then
  TMPDIR=$work/tmp timeout -k 1 20 script -qec \
    "timeout -s INT 4 $levelcheck $lib_run/lib --grid 1000 --orders 0 >/dev/null" /dev/null \
    >"$work/tty" 2>&1 </dev/null
  grep -qE 'levelcheck: grid: [0-9]+ of 64000000 views' "$work/tty" ||
    fail "no progress on a terminal: $(head -c 300 "$work/tty")"
  (cd "$lib_run" && TMPDIR=$work/tmp timeout -s INT 4 "$levelcheck" lib --grid 1000 --orders 0 >/dev/null 2>"$work/err")
  [ -s "$work/err" ] && fail "progress shown where standard error is not a terminal: $(head -c 300 "$work/err")"
  [ -z "$(ls -A "$work/tmp")" ] || fail "levelcheck left a scratch folder: $(ls "$work/tmp")"
fi
exit $status
