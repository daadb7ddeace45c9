#!/usr/bin/env bash
# Every output whole or not at all: a full disk (a file size limit, with
# SIGXFSZ ignored so the write fails instead of killing the tool) leaves the
# previous output byte for byte and no temporary file; an output that is the
# tool's own input, however named, is refused with the input unchanged; a
# failed write to standard output (/dev/full) is one line and a failure;
# outputs get the modes the umask gives (a new level 0644 under umask 022,
# readable by the game run by another user; a replaced one keeps its mode as
# far as the umask allows).
#   bash tests/tools/hostile_outputs.sh BUILD_DIR WORK_DIR
source "$(dirname "$0")/hostile_common.bash"

cp assets/level1.world assets/car.obj assets/car.mtl "$work/"
mv "$work/level1.world" "$work/src.world"
cp tests/data/bitmaps/red16.png "$work/pic.png"
"$levelc" "$work/src.world" -o "$work/good.3dw" || fail "levelc cannot compile level1.world"

# Full disk: each tool writes over an old output under `ulimit -f 0`, where
# the first byte written fails.
echo "old output" >"$work/old"
cp "$work/old" "$work/frame_00001.png"
full_disk_cases=(
  "level.3dw|$levelc $work/src.world -o OUT"
  "model.3do|$levelc assets/car.obj -o OUT"
  "level.txt|$leveldump $work/good.3dw -o OUT"
  "tree.bit|$bitmapc assets/bitmaps/tree.png -o OUT"
  "frame_00001.png|$record --frames 1 --out $work"
)
for case in "${full_disk_cases[@]}"; do
  name=${case%%|*} command=${case#*|}
  out=$work/$name
  cp "$work/old" "$out"
  # shellcheck disable=SC2086
  # (The limit holds for the tool only: its message goes out through a pipe
  # to a file the limit would refuse too.)
  expect "!0" "$name: (File too large|No space)" bash -c \
    "trap '' XFSZ; (ulimit -f 0; exec ${command//OUT/$out}) 2>&1 >/dev/null | cat >&2; exit \${PIPESTATUS[0]}"
  cmp -s "$work/old" "$out" || fail "$name: a failed write changed the old output"
  ls "$work" | grep -q '\.tmp-' && fail "$name: a temporary file was left: $(ls "$work" | grep '\.tmp-')"
done

# The same writes with room succeed, replacing the old files.
expect 0 "" "$levelc" "$work/src.world" -o "$work/level.3dw"
cmp -s "$work/level.3dw" "$work/good.3dw" || fail "levelc's output differs after a full disk"

# An output that is an input, by the same name, a second name or a link.
ln -f "$work/src.world" "$work/hard.world"
ln -sf "$work/src.world" "$work/soft.3dw"
printf 'world\nobject B\n  mass 1\n  obj car.obj grey 200\nend\n' >"$work/uses_obj.world"
cp "$work/good.3dw" "$work/keep.3dw"
same_cases=(
  "src.world|$levelc $work/src.world -o $work/src.world"
  "src.world|$levelc $work/src.world -o $work/hard.world"
  "src.world|$levelc $work/src.world -o $work/soft.3dw"
  "car.obj|$levelc $work/car.obj -o $work/car.obj"
  "car.obj|$levelc $work/uses_obj.world -o $work/car.obj"
  "pic.png|$bitmapc $work/pic.png -o $work/pic.png"
  "keep.3dw|$leveldump $work/keep.3dw -o $work/keep.3dw"
)
for case in "${same_cases[@]}"; do
  name=${case%%|*} command=${case#*|}
  cp "$work/$name" "$work/before"
  # shellcheck disable=SC2086
  expect 1 "input|source" $command
  cmp -s "$work/before" "$work/$name" || fail "$command changed its input"
done
[ -L "$work/soft.3dw" ] || fail "the link to the source was replaced"

# An output that exists and is not a regular file is not replaced by one.
mkfifo "$work/pipe.3dw"; mkdir "$work/folder.3dw"
for out in pipe.3dw folder.3dw; do
  expect 1 "$out: not a regular file" "$levelc" "$work/src.world" -o "$work/$out"
done
[ -p "$work/pipe.3dw" ] && [ -d "$work/folder.3dw" ] || fail "a FIFO or folder output was replaced"

# Modes: new files and replaced ones, under umask 022 and 077.
mode_of() { stat -c %a "$1"; }
rm -f "$work/mode.3dw" "$work/kept.3dw" "$work/private.3dw"
expect 0 "" bash -c "umask 022; exec $levelc $work/src.world -o $work/mode.3dw"
[ "$(mode_of "$work/mode.3dw")" = 644 ] || fail "a new level under umask 022 got mode $(mode_of "$work/mode.3dw")"
cp "$work/good.3dw" "$work/kept.3dw"; chmod 640 "$work/kept.3dw"
expect 0 "" bash -c "umask 022; exec $levelc $work/src.world -o $work/kept.3dw"
[ "$(mode_of "$work/kept.3dw")" = 640 ] || fail "a replaced 0640 level got mode $(mode_of "$work/kept.3dw")"
chmod 666 "$work/kept.3dw"
expect 0 "" bash -c "umask 022; exec $levelc $work/src.world -o $work/kept.3dw"
[ "$(mode_of "$work/kept.3dw")" = 644 ] || fail "a replaced 0666 level under umask 022 got mode $(mode_of "$work/kept.3dw")"
expect 0 "" bash -c "umask 077; exec $levelc $work/src.world -o $work/private.3dw"
[ "$(mode_of "$work/private.3dw")" = 600 ] || fail "a new level under umask 077 got mode $(mode_of "$work/private.3dw")"

# Standard output that cannot be written.
lib_run=$work/run; fresh_lib "$lib_run"
stdout_cases=(
  "$leveldump $work/good.3dw"
  "$levelc --help"
  "$leveldump --help"
  "$bitmapc --help"
  "$levelcheck --help"
  "$record --help"
  "$soak --help"
  "$soak --game 3 --frames 5"
  "$levelcheck $lib_run/lib --view 0 0 0 --orders 1"
)
for command in "${stdout_cases[@]}"; do
  # shellcheck disable=SC2086
  expect 1 "standard output: No space left on device" bash -c "cd $lib_run && exec $command >/dev/full"
done
expect 1 "standard output" bash -c "cd $lib_run && exec $record --frames 2 --state --out $work/f >/dev/full"
exit $status
