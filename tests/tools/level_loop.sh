#!/usr/bin/env bash
# A level maker's loop, as "Making a level" spells it out: an edited source,
# compiled as the build compiles it and copied by regen_lib, is the level the
# game then plays from lib/; a source that levelcheck refuses is not copied,
# and lib/ stays exactly as it was.
#
#   bash tests/tools/level_loop.sh BUILD_DIR WORK_DIR   (from the repository root)
set -euo pipefail
build=$(realpath "$1") work=$2
tools=$build/tools
fail() { echo "level_loop: $*" >&2; exit 1; }
rm -rf "$work"
mkdir -p "$work/game/lib" "$work/gen" "$work/bad"
work=$(realpath "$work")
cp lib/* "$work/game/lib/"
frame_of() {   # the game's first frame from the data in $1's lib/
  (cd "$1" && "$tools/polydrive-record" --frames 1 --out "$work/frames" >/dev/null)
  cat "$work/frames/frame_00001.png"
}
before=$(frame_of "$work/game" | md5sum)

# The edit: the player starts 4 m further along the road.
sed 's/^start Human1 0 0 0 /start Human1 0 0 20000 /' assets/level1.world >"$work/edited.world"
cmp -s assets/level1.world "$work/edited.world" && fail "the edit changed nothing"
cp "$build"/lib/* "$work/gen/"
cp assets/*.obj assets/*.mtl "$work/"   # the meshes the source names, beside it
"$tools/levelc" "$work/edited.world" -o "$work/gen/level1.3dw"
bash tools/regen_lib.sh "$tools/levelcheck" "$work/gen" "$work/game/lib" "$work"/gen/* >"$work/regen.out" ||
  fail "regen_lib refused a level that passes: $(cat "$work/regen.out")"
cmp -s "$work/gen/level1.3dw" "$work/game/lib/level1.3dw" || fail "regen_lib did not copy the level"
after=$(frame_of "$work/game" | md5sum)
[ "$before" != "$after" ] || fail "the game still shows the old level"

# A level with too many faces in view: refused, and lib/ untouched.
cp "$work"/game/lib/* "$work/bad/"
"$tools/levelc" tests/data/levels/too_many_faces/level1.world -o "$work/bad/level1.3dw"
snapshot=$(cd "$work/game/lib" && md5sum ./* | sort)
set +e
bash tools/regen_lib.sh "$tools/levelcheck" "$work/bad" "$work/game/lib" "$work"/bad/* >"$work/bad.out" 2>&1
status=$?
set -e
[ "$status" -eq 1 ] || fail "regen_lib copied a failing level (status $status): $(cat "$work/bad.out")"
grep -q "^regen_lib: .* fails levelcheck" "$work/bad.out" || fail "no refusal line: $(cat "$work/bad.out")"
[ "$(cd "$work/game/lib" && md5sum ./* | sort)" = "$snapshot" ] || fail "lib/ changed after a refusal"
[ -z "$(find "$work/game/lib" -name '.*' -type f)" ] || fail "temporary files left in lib/"
echo "level_loop: an edited level reaches the game; a failing one is refused and lib/ kept"
