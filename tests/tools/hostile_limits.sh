#!/usr/bin/env bash
# What the game would refuse, the tools refuse first, and every option and
# count is checked: spare slots past the loader's 4096 (written or from
# `spare auto`), sprite bitmap names the cache refuses, OBJ coordinates that
# are not finite numbers (naming file and line), OBJ files without a face,
# pictures that are not PNG or cannot fit the resource pool (refused from the
# header, before decoding), damaged PNG files, and huge or out-of-range
# option values (exit status 2, one line).
#   bash tests/tools/hostile_limits.sh BUILD_DIR WORK_DIR
source "$(dirname "$0")/hostile_common.bash"

# Level sources the loader would refuse.
boxes=""
for i in $(seq 0 180); do boxes+="  box $((i * 10)) 0 0 $((i * 10 + 5)) 5 5 grey 100"$'\n'; done
name60=$(printf 'n%.0s' $(seq 60))
level_cases=(
  "spare.world|world\nobject A\n  mass 1\n  spare 5000\n  v 0 0 0\n  face red 1 0 0 0\nend\n|spare.world:4: spare slots 5000 is outside 0..4096"
  "auto.world|world\nobject Big\n  mass 1\n${boxes//$'\n'/\\n}end\n|auto.world:2: object Big needs 4344 spare slots"
  "name.world|world\nobject $name60\n  mass 1\n  v 0 0 0\n  sprite 0 0\nend\n|bitmap name longer than 59"
  "up.world|world\nobject ../x.bit\n  mass 1\n  v 0 0 0\n  sprite 0 0\nend\n|climbs out"
)
for case in "${level_cases[@]}"; do
  IFS='|' read -r file text message <<<"$case"
  printf "$text" >"$work/$file"
  expect 1 "$message" "$levelc" "$work/$file" -o "$work/x.3dw"
  [ -e "$work/x.3dw" ] && fail "$file: levelc wrote an output"
done

# The same under the raised limits: a million spare slots an object.
python3 -c '
print("world\nobject Big\n  mass 1")
for i in range(43691): print("  box %d 0 0 %d 5 5 grey 100" % (i * 10, i * 10 + 5))
print("end")' >"$work/raised_auto.world"
expect 1 "raised_auto.world:2: object Big needs 1048584 spare slots \(two a face\), more than the game's 1048576" \
  "$levelc" --limits raised "$work/raised_auto.world" -o "$work/x.3dw"

# OBJ coordinates: each bad one names the OBJ file and its line, directly and
# through a world's obj line.
printf 'world\nobject B\n  mass 1\n  obj part.obj grey 200\nend\n' >"$work/uses_part.world"
for bad in nan NaN inf -inf 0x10 1e999 junk 1.2.3 1,5 --1 . 1e; do
  printf 'v 0 0 0\nv 1 0 0\nv 0 %s 1\nf 1 2 3\n' "$bad" >"$work/part.obj"
  expect 1 "part.obj:3: coordinate '$bad' is not a finite decimal number" "$levelc" "$work/part.obj" -o "$work/x.3do"
  expect 1 "uses_part.world:4: .*part.obj:3: coordinate" "$levelc" "$work/uses_part.world" -o "$work/x.3dw"
done
printf 'v 0 0 0\nv 1 0 0\nv 0 1 0 \nv -1.5e+2 +.5 7.\nf 1 2 3\n' >"$work/part.obj"
expect 0 "" "$levelc" "$work/part.obj" -o "$work/good.3do"
# OBJ files that hold no face: empty, vertices only, lines only; a folder.
for text in '' 'v 0 0 0\nv 1 0 0\nv 0 1 0\n' 'v 0 0 0\nv 1 0 0\nl 1 2\n'; do
  printf "$text" >"$work/part.obj"
  expect 1 "part.obj: holds no triangle face" "$levelc" "$work/part.obj" -o "$work/x.3do"
  expect 1 "uses_part.world:4: .*part.obj: holds no triangle face" "$levelc" "$work/uses_part.world" -o "$work/x.3dw"
done
rm -f "$work/part.obj"; mkdir "$work/part.obj"
expect 1 "part.obj: (not a regular file|Is a directory)" "$levelc" "$work/uses_part.world" -o "$work/x.3dw"
[ -e "$work/x.3do" ] || [ -e "$work/x.3dw" ] && fail "an output was written for a refused OBJ"

# Pictures: only PNG, and only what the pool can hold, judged from the header.
# png W H: a PNG signature and header chunk (with its CRC) and nothing else.
png() {
  python3 -c '
import struct, sys, zlib
w, h = int(sys.argv[1]), int(sys.argv[2])
ihdr = b"IHDR" + struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
sys.stdout.buffer.write(b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + ihdr + struct.pack(">I", zlib.crc32(ihdr)))
' "$1" "$2"
}
png 16384 16384 >"$work/huge.png"
png 128 128 >"$work/pool.png"
png 100000 4 >"$work/wide.png"
expect 1 "size 16384x16384 needs more than the game's resource pool" "$bitmapc" "$work/huge.png" -o "$work/x.bit"
expect 1 "size 128x128 needs more than" "$bitmapc" "$work/pool.png" -o "$work/x.bit"
expect 1 "size 100000x4" "$bitmapc" "$work/wide.png" -o "$work/x.bit"
for format in bmp jpg pgm gif; do
  convert tests/data/bitmaps/red16.png "$work/red16.$format" 2>/dev/null || { fail "cannot make a $format picture"; continue; }
  expect 1 "red16.$format: not a PNG file" "$bitmapc" "$work/red16.$format" -o "$work/x.bit"
done
# One byte of the pixel data changed: the checksums catch it.
cp tests/data/bitmaps/red16.png "$work/bad_crc.png"
size=$(stat -c %s "$work/bad_crc.png")
printf '\x55' | dd of="$work/bad_crc.png" bs=1 seek=$((size - 20)) conv=notrunc status=none
expect 1 "bad_crc.png: .*(CRC|crc|check)" "$bitmapc" "$work/bad_crc.png" -o "$work/x.bit"
[ -e "$work/x.bit" ] && fail "bitmapc wrote an output for a refused picture"

# Option values: huge, negative, out of range or not numbers.
lib_run=$work/run; fresh_lib "$lib_run"
huge=9223372036854775807
option_cases=(
  "$soak --game 2 --frames $huge"
  "$soak --game 99999999999999999999"
  "$soak --game -1"
  "$soak --game 2 --frames 0"
  "$soak --game 2x"
  "$record --frames $huge --out $work/f"
  "$record --frames 3 --every $huge --out $work/f"
  "$record --frames -3 --out $work/f"
  "$levelcheck $lib_run/lib --grid $huge"
  "$levelcheck $lib_run/lib --headings 0"
  "$levelcheck $lib_run/lib --orders 1e3"
  "$levelcheck $lib_run/lib --view 0 0 $huge"
  "$levelc $work/part.obj -o $work/x.3do --mass $huge"
  "$levelc $work/part.obj -o $work/x.3do --scale 0"
  "$levelc $work/part.obj -o $work/x.3do --refl 256"
  "$levelc $work/part.obj -o $work/x.3do --ramp 99999999999999999999"
  "$levelc $work/part.obj"
  "$leveldump --bogus"
  "$bitmapc in.png"
)
for command in "${option_cases[@]}"; do
  # shellcheck disable=SC2086
  expect 2 "" bash -c "cd $lib_run && exec $command"
done
exit $status
