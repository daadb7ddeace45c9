#!/usr/bin/env bash
# The asset tools' command lines: --help, and every error as one line on
# standard error with exit status 1 (file and line for a source mistake), or
# 2 for a mistake in the command line.
set -u
levelc=$1 leveldump=$2 bitmapc=$3 work=$4
rm -rf "$work"; mkdir -p "$work"
status=0
fail() { echo "FAIL: $*"; status=1; }

# expect CODE PATTERN command...: the exit status and a line of its stderr.
expect() {
  local code=$1 pattern=$2; shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  [ $got -eq "$code" ] || fail "$* exited $got, not $code"
  if [ -n "$pattern" ] && ! grep -qE -- "$pattern" "$work/err"; then
    fail "$*: stderr lacks /$pattern/: $(cat "$work/err")"
  fi
  if [ "$code" -ne 0 ] && [ "$(wc -l <"$work/err")" -ne 1 ]; then
    fail "$*: the error is not one line: $(cat "$work/err")"
  fi
}

for tool in "$levelc" "$leveldump" "$bitmapc"; do
  expect 0 "" "$tool" --help
  grep -q '^usage: ' "$work/out" || fail "$tool --help prints no usage"
  expect 2 "unknown option" "$tool" --bogus
done

printf 'world\nobject A\n  mass 1\n  v 0 0 0\n  face red 1 0 0 9\nend\n' >"$work/bad.world"
expect 1 "^levelc: $work/bad.world:5: vertex 9 does not exist" "$levelc" "$work/bad.world" -o "$work/x.3dw"
[ -e "$work/x.3dw" ] && fail "levelc wrote an output for a bad source"
expect 1 "no such file|cannot|No such" "$levelc" "$work/none.world" -o "$work/x.3dw"
printf 'model\nmass 1\nv 0 0 0\nsprite 0 0\n' >"$work/m.model"
expect 1 "a model goes into a .3do file" "$levelc" "$work/m.model" -o "$work/m.3dw"
expect 0 "" "$levelc" "$work/m.model" -o "$work/m.3do"
expect 2 "needs a SOURCE" "$levelc" "$work/m.model"

printf '\x03\x00\x00' >"$work/cut.3dw"
expect 1 "cut.3dw: offset 0: file ends inside" "$leveldump" "$work/cut.3dw"
expect 2 "cannot tell a world from a model" "$leveldump" "$work/m.bin"
expect 0 "" "$leveldump" "$work/m.3do"
# A file the loader would refuse is still printed, with a warning.
printf 'world\nobject A\n  mass 1\n  v 0 0 0\n  sprite 0 0\nend\n' >"$work/w.world"
"$levelc" "$work/w.world" -o "$work/w.3dw" || fail "levelc w.world"
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\xff\xff\xff\xff' >"$work/noface.3dw"   # V=1 E=0, a vertex, no faces, mass 1
expect 0 "warning: object 0 \(\): no face" "$leveldump" "$work/noface.3dw"

# PNG pictures: a 12-pixel-wide one is refused, a 16-pixel-wide one converts.
pics=tests/data/bitmaps
expect 1 "width 12 is not a power of two" "$bitmapc" "$pics/wide12.png" -o "$work/w12.bit"
expect 0 "" "$bitmapc" "$pics/red16.png" -o "$work/w16.bit"
[ "$(od -An -tu1 -j8 -N1 "$work/w16.bit" | tr -d ' ')" = 23 ] || fail "pure red did not map to colour 23"
[ "$(stat -c %s "$work/w16.bit")" = 72 ] || fail "a 16x4 bitmap is not 72 bytes"
expect 1 "bad.world: not a PNG file" "$bitmapc" "$work/bad.world" -o "$work/x.bit"
exit $status
