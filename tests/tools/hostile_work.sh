#!/usr/bin/env bash
# What the tools can know will not play they refuse, at the exact bound the
# game's pool sets, and no source makes them work without bound:
#   - levelc: a world and the car it is played with (car1.3do beside the
#     output, else the shipped car) fit the pool together; the largest world
#     accepted loads in the game and one byte more is refused by both;
#   - bitmapc: a bitmap fits beside the smallest level that names it; the
#     largest accepted locks in the game and one byte more cannot;
#   - levelc warns of a start's angles (unused), naming the line;
#   - hundreds of obj lines naming a large OBJ end in moments, a face of
#     100,000 corners imports in linear time, a large face that is not convex
#     is refused naming its line.
#   bash tests/tools/hostile_work.sh BUILD_DIR WORK_DIR
source "$(dirname "$0")/hostile_common.bash"
car_bytes=$(stat -c %s lib/car1.3do)
[ "$car_bytes" -eq 532 ] || fail "the shipped car is $car_bytes bytes; levelc --help says 532"

# world PAD: a world of one box and a start, then PAD trailing bytes.
world() {
  printf 'world\nobject A\n  mass 1\n  box -100 0 900 100 50 1000 red 100\nend\nstart Human1 0 0 0\n'
  [ "$1" -gt 0 ] && head -c "$1" /dev/zero | od -An -v -tx1 | tr -d ' \n' | fold -w 64 | sed 's/^/trailing /'
  echo
}
world 0 >"$work/w.world"
expect 0 "" "$levelc" "$work/w.world" -o "$work/w.3dw"
pad=$((10240 - car_bytes - $(stat -c %s "$work/w.3dw")))

# The largest world the shipped car leaves room for: written, and it plays.
world "$pad" >"$work/fit.world"
mkdir -p "$work/play"
expect 0 "" "$levelc" "$work/fit.world" -o "$work/play/level1.3dw"
[ "$(stat -c %s "$work/play/level1.3dw")" -eq $((10240 - car_bytes)) ] || fail "the fitting world has the wrong size"
cp lib/car1.3do "$work/play/"
expect 0 "" "$record" --data "$work/play" --frames 2 --out "$work/frames"
# One byte more: refused by levelc, naming the car it counted, and by the game.
world $((pad + 1)) >"$work/over.world"
expect 1 "over.world: the game would refuse it: $work/x/level1.3dw \(9709 bytes\) and the shipped car1.3do \(532 bytes\) do not fit the classic 10240-byte pool together \(--limits raised" \
  "$levelc" "$work/over.world" -o "$work/x/level1.3dw"
expect 1 "over.world: the game would refuse it: $work/play/level1.3dw \(9709 bytes\) and $work/play/car1.3do \(532 bytes\)" \
  "$levelc" "$work/over.world" -o "$work/play/level1.3dw"
[ "$(stat -c %s "$work/play/level1.3dw")" -eq $((10240 - car_bytes)) ] || fail "a refused world was written"
cat "$work/play/level1.3dw" <(printf '\0') >"$work/big.3dw" && mv "$work/big.3dw" "$work/play/level1.3dw"
expect_fatal "level1.3dw with car1.3do: 10241 bytes, the classic resource pool holds 10240" \
  "$record" --data "$work/play" --frames 2 --out "$work/frames"
expect 0 "" "$record" --data "$work/play" --frames 2 --out "$work/frames" --limits raised
expect 0 "" "$levelc" --limits raised "$work/over.world" -o "$work/raised.3dw"
# A larger car beside the output leaves less room.
head -c 1000 /dev/zero >"$work/car1.3do"
world $((pad - 468)) >"$work/less.world"
expect 0 "" "$levelc" "$work/less.world" -o "$work/less.3dw"
world $((pad - 467)) >"$work/less.world"
expect 1 "less.3dw \(9241 bytes\) and $work/car1.3do \(1000 bytes\) do not fit" "$levelc" "$work/less.world" -o "$work/less.3dw"

# Bitmaps: a 1-pixel-wide column as tall as the pool allows beside the
# smallest level naming col.bit (one sprite object, 84 bytes, no car).
column() {
  python3 -c '
import struct, sys, zlib
h = int(sys.argv[1])
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
raw = b"\0\xff\0\0\xff" * h
sys.stdout.buffer.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, h, 8, 6, 0, 0, 0))
                        + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))' "$1"
}
mkdir -p "$work/sprite"
cp lib/car1.3do "$work/sprite/"
printf 'world\nobject col.bit\n  position 0 0 2000\n  mass 1\n  v 0 0 0\n  sprite 0 0\nend\n' >"$work/sprite.world"
expect 0 "" "$levelc" "$work/sprite.world" -o "$work/sprite/level1.3dw"
level=$(stat -c %s "$work/sprite/level1.3dw")
tall=$((10240 - level - 8))
column "$tall" >"$work/ok.png"
column $((tall + 1)) >"$work/over.png"
expect 0 "" "$bitmapc" "$work/ok.png" -o "$work/sprite/col.bit"
expect 0 "" "$record" --data "$work/sprite" --frames 2 --out "$work/frames"
expect 1 "over.png: size 1x$((tall + 1)) needs more than the game's resource pool holds beside a level: .*col.bit \($((10240 - level + 1)) bytes\) and the smallest level that names it \($level bytes\) do not fit the classic 10240-byte pool together" \
  "$bitmapc" "$work/over.png" -o "$work/x/col.bit"
expect 0 "" "$bitmapc" --limits raised "$work/over.png" -o "$work/raised.bit"
# The game cannot lock that one byte more beside the level.
cp "$work/raised.bit" "$work/sprite/col.bit"
expect_fatal "no block large enough" "$record" --data "$work/sprite" --frames 2 --out "$work/frames"

# A start's angles: kept, unused, warned of with the line; none for 0 0 0.
printf 'world\nobject A\n  mass 1\n  box 0 0 0 1 1 1 red 1\nend\nstart Human1 0 0 0 0 0 0\nstart Human0 5 0 5 0 512 0\n' >"$work/angles.world"
expect 0 "" "$levelc" "$work/angles.world" -o "$work/angles.3dw"
grep -qx "levelc: $work/angles.world:7: warning: the game does not use a start's angles (0 512 0): every car starts facing +z; the file keeps them" "$work/err" ||
  fail "no warning for the start's angles: $(cat "$work/err")"
[ "$(wc -l <"$work/err")" -eq 1 ] || fail "more than the one warning: $(cat "$work/err")"
"$leveldump" "$work/angles.3dw" | grep -q "^start Human0 5 0 5 0 512 0$" || fail "the angles were not kept"

# Bounded work: 300 obj lines naming a 2 MB OBJ end within the 5 s of expect
# (refused at the line that passes the pool), under either limit set.
python3 -c '
import random
r = random.Random(1); n = 60000
print("\n".join("v %d %d %d" % (r.randrange(1000), r.randrange(1000), r.randrange(1000)) for _ in range(n)))
print("\n".join("f %d %d %d" % (r.randrange(1, n + 1), r.randrange(1, n + 1), r.randrange(1, n + 1)) for _ in range(n)))
' >"$work/mesh.obj"
{ printf 'world\nobject M\n  mass 1\n  spare 0\n'; for _ in $(seq 300); do echo "  obj mesh.obj red 1"; done; echo end; } >"$work/many.world"
expect 1 "many.world:5: .*mesh.obj:[0-9]+: its vertices and faces take more than the 10240 bytes" "$levelc" "$work/many.world" -o "$work/x.3dw"
# Under the raised limits the OBJ bytes read bound it: the ninth 2 MB file
# passes 16 MiB in all (given 30 s, as a sanitizer build is slow).
timeout -k 1 30 "$levelc" --limits raised "$work/many.world" -o "$work/x.3dw" 2>"$work/err"
[ $? -eq 1 ] || fail "levelc --limits raised many.world did not refuse it within 30 s"
grep -qE "many.world:13: the obj lines read more than 16777216 bytes of OBJ files in all" "$work/err" ||
  fail "many.world under raised: $(head -c 300 "$work/err")"
# OBJ files that hold little but take bytes to read: 16 MiB in all.
{ echo "v 0 0 0"; echo "v 1 0 0"; echo "v 0 1 0"; echo "f 1 2 3"; head -c $((15 << 20)) /dev/zero | tr '\0' '#'; echo; } >"$work/padded.obj"
{ printf 'world\nobject P\n  mass 1\n  spare 0\n'; for _ in $(seq 300); do echo "  obj padded.obj red 1"; done; echo end; } >"$work/padded.world"
expect 1 "padded.world:6: the obj lines read more than 16777216 bytes of OBJ files in all" "$levelc" "$work/padded.world" -o "$work/x.3dw"
# Source lines alone build no more than the largest pool holds (288 bytes a
# box): refused at the line that passes 16 MiB, under either limit set.
python3 -c '
print("world\nobject B\n  mass 1\n  spare 0")
for i in range(200000): print("  box %d 0 0 %d 1 1 red 1" % (i, i + 1))
print("end")' >"$work/boxes.world"
for limits in classic raised; do
  expect 1 "boxes.world:58259: the level's vertices and faces come to more than 16777216 bytes already" \
    "$levelc" --limits $limits "$work/boxes.world" -o "$work/x.3dw"
done

# One face of 100,000 corners (a circle): a fan of 99,998 triangles, at
# once; the kept star-shaped faces are refused naming their line.
python3 -c '
import math
n = 100000
print("\n".join("v %.6f %.6f 0" % (1000 * math.cos(2 * math.pi * k / n), 1000 * math.sin(2 * math.pi * k / n)) for k in range(n)))
print("f " + " ".join(str(i + 1) for i in range(n)))' >"$work/circle.obj"
expect 0 "" "$levelc" --limits raised "$work/circle.obj" -o "$work/circle.3do"
[ "$(stat -c %s "$work/circle.3do")" -eq $((20 + 12 * 100000 + 16 * 99998)) ] || fail "the circle did not give 99998 triangles"
expect 1 "concave_12.obj:14: a face of 12 corners that is not convex" "$levelc" tests/data/obj/concave_12.obj -o "$work/x.3do"
expect 1 "star_9.obj:11: a face of 9 corners that is not convex" "$levelc" tests/data/obj/star_9.obj -o "$work/x.3do"
[ -e "$work/x.3do" ] || [ -e "$work/x.3dw" ] && fail "an output was written for a refused source"
exit $status
