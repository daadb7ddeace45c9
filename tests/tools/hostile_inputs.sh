#!/usr/bin/env bash
# Only regular files, bounded: a FIFO, a link to /dev/zero and a huge sparse
# file, put where a program reads, are refused promptly with one line (each
# run is guarded by a timeout) by the game's loader (through the recorder,
# which uses the same cache), the soak player, levelcheck and every tool.
#   bash tests/tools/hostile_inputs.sh BUILD_DIR WORK_DIR
source "$(dirname "$0")/hostile_common.bash"

# spoil FILE KIND: replaces FILE by a FIFO, a link to /dev/zero or a 1 GB
# sparse file.
spoil() {
  rm -f "$1"
  case $2 in
    fifo) mkfifo "$1" ;;
    zero) ln -s /dev/zero "$1" ;;
    huge) truncate -s 1G "$1" ;;
  esac
}

# The game's own files in lib/ (named as the data folder): the world, the car
# and a sprite's bitmap.
for kind in fifo zero huge; do
  for file in level1.3dw car1.3do tree.bit; do
    dir=$work/game-$kind-$file; fresh_lib "$dir"; spoil "$dir/lib/$file" $kind
    msg="cannot load resource \`$file'|resource \`$file' too big"
    for command in "$record --frames 2 --out $dir/frames --data lib" "$soak --game 1 --frames 2 --data lib"; do
      if [ "$file" = level1.3dw ] && [ $kind != huge ]; then
        # The data folder is the one holding a regular level1.3dw.
        expect 1 "cannot find the game's data: no level1.3dw in lib" bash -c "cd $dir && exec $command"
      else
        expect_fatal "$msg" bash -c "cd $dir && exec $command"
      fi
    done
    timeout -k 1 5 "$levelcheck" "$dir/lib" --grid 2 --headings 2 --orders 1 >"$work/out" 2>&1
    code=$?
    [ $code -eq 1 ] || fail "levelcheck with lib/$file as $kind exited $code"
    grep -qE "not a regular file|more than the 10240|$msg" "$work/out" ||
      fail "levelcheck with lib/$file as $kind: $(cat "$work/out")"
  done
done

# Every tool input.
printf 'world\nobject B\n  mass 1\n  obj part.obj grey 200\nend\n' >"$work/uses_part.world"
for kind in fifo zero huge; do
  spoil "$work/in.$kind" $kind
  spoil "$work/part.obj" $kind
  why="not a regular file|more than the"
  expect 1 "$why" "$levelc" "$work/in.$kind" -o "$work/x.3dw"
  expect 1 "$why" "$levelc" "$work/part.obj" -o "$work/x.3do"
  expect 1 "uses_part.world:4: .*($why)" "$levelc" "$work/uses_part.world" -o "$work/x.3dw"
  expect 1 "$why" "$leveldump" --world "$work/in.$kind"
  expect 1 "$why" "$bitmapc" "$work/in.$kind" -o "$work/x.bit"
  expect 1 "$why" "$record" --keys "$work/in.$kind" --frames 1 --out "$work/f"
done
[ -e "$work/x.3dw" ] || [ -e "$work/x.3do" ] || [ -e "$work/x.bit" ] && fail "an output was written for a refused input"
exit $status
