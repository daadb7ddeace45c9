#!/usr/bin/env bash
# The include check passes on the tree as it is, and fails, naming file and
# line, on an upward include, on an include between two backends and on an
# include circle within a floor (two units, and three) planted in a copy of
# the tree.
#   bash tests/tools/check_layers_test.sh CHECK_SCRIPT WORK_DIR
set -euo pipefail
check=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() { echo "check_layers_test: $*" >&2; exit 1; }

python3 "$check" . || fail "the tree itself does not pass"

plant() {   # plant FILE LINE: a copy of the tree with LINE appended to FILE
  rm -rf "$work/tree"
  mkdir -p "$work/tree"
  for floor in base platform res scene render frame; do cp -r "$floor" "$work/tree/"; done
  printf '%s\n' "$2" >> "$work/tree/$1"
  wc -l < "$work/tree/$1" | tr -d ' '
}

expect_refused() {   # expect_refused FILE LINE_NUMBER
  if python3 "$check" "$work/tree" > "$work/out" 2>&1; then
    fail "a planted include in $1 passed"
  fi
  grep -q "^$1:$2: " "$work/out" || { cat "$work/out"; fail "no $1:$2 in the report"; }
}

line=$(plant scene/world.cpp '#include "frame/game.h"')
expect_refused scene/world.cpp "$line"
line=$(plant base/fixed.h '#include "platform/video.h"')
expect_refused base/fixed.h "$line"
line=$(plant platform/headless/headless.cpp '#include "platform/sdl/keymap.h"')
expect_refused platform/headless/headless.cpp "$line"

# Circles within a floor: hud's source including game's header closes a
# circle with game.cpp's include of hud.h; so does pause's,
# which closes circles of two and of three units.
line=$(plant frame/hud.cpp '#include "frame/game.h"')
expect_refused frame/hud.cpp "$line"
grep -q 'an include circle: frame/hud -> frame/game -> frame/hud$' "$work/out" ||
  { cat "$work/out"; fail "the circle is not named"; }
grep -q '^frame/game.cpp:[0-9]*: includes "frame/hud.h", an include circle' "$work/out" ||
  { cat "$work/out"; fail "the other half of the circle is not reported"; }
line=$(plant frame/pause.cpp '#include "frame/game.h"')
expect_refused frame/pause.cpp "$line"
# (hud includes pause, pause now game, game hud: a circle of three units.)
grep -q '^frame/hud.cpp:[0-9]*: includes "frame/pause.h", an include circle: frame/hud -> frame/pause -> frame/game -> frame/hud$' "$work/out" ||
  { cat "$work/out"; fail "the circle of three is not named"; }
# Within a unit, and one way between two units, there is no circle.
plant frame/hud.h '#include "frame/pause.h"' > /dev/null
python3 "$check" "$work/tree" > "$work/out" 2>&1 || { cat "$work/out"; fail "a one-way include was refused"; }

# The same include one floor lower is fine: frame may include scene.
plant frame/drive.cpp '#include "scene/world.h"' > /dev/null
python3 "$check" "$work/tree" > "$work/out" 2>&1 || { cat "$work/out"; fail "a downward include was refused"; }
echo "check_layers_test: ok"
