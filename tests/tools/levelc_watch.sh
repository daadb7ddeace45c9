#!/usr/bin/env bash
# levelc --watch: compiles at once, again after each save of the source; a
# mistake is one line naming the source line, the last output stays, and the
# next good save is written again; SIGTERM ends it leaving no partial file.
#   bash tests/tools/levelc_watch.sh LEVELC SCRATCH
set -euo pipefail
levelc=$1
dir=$2
rm -rf "$dir" && mkdir -p "$dir"
fail() { echo "levelc --watch: $*" >&2; exit 1; }

# Waits (at most 10 s) until the log file holds N lines.
lines() {
  for _ in $(seq 100); do
    [ "$(wc -l <"$2")" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "no line $1 in $2: $(cat "$2")"
}

good() {
  printf 'world\nstart Human1 0 0 0\nobject A\n position 0 -6000 %s\n mass 1\n box 0 0 0 900 900 900 red 200\nend\n' "$1"
}
good 9000 >"$dir/level.world"
"$levelc" "$dir/level.world" -o "$dir/out.3dw" --watch >"$dir/out.log" 2>"$dir/err.log" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
lines 1 "$dir/out.log"
grep -qx "levelc: $dir/out.3dw written" "$dir/out.log" || fail "first compile: $(cat "$dir/out.log")"
first=$(cksum <"$dir/out.3dw")

sleep 0.05
printf 'world\nstart Human1 0 0 0\nobject A\n v 1 2\nend\n' >"$dir/level.world.new"
mv "$dir/level.world.new" "$dir/level.world"
lines 1 "$dir/err.log"
grep -q "^levelc: $dir/level.world:4: " "$dir/err.log" || fail "no line 4: $(cat "$dir/err.log")"
[ "$(cksum <"$dir/out.3dw")" = "$first" ] || fail "a mistake changed the output"
kill -0 "$pid" || fail "a mistake ended the watch"

sleep 0.05
good 19000 >"$dir/level.world"
lines 2 "$dir/out.log"
[ "$(cksum <"$dir/out.3dw")" != "$first" ] || fail "the good save was not written"

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
trap - EXIT
[ "$status" -eq 143 ] || fail "SIGTERM gave status $status"
leftovers=$(find "$dir" -name '*.tmp*' -o -name '.*' -type f | head -n 1)
[ -z "$leftovers" ] || fail "left $leftovers"
echo "levelc --watch: ok"
