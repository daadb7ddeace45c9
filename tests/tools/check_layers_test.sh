#!/usr/bin/env bash
# The include check passes on the tree as it is, and fails, naming file and
# line, on an upward include and on an include between two backends planted
# in a copy of the tree.
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

# The same include one floor lower is fine: frame may include scene.
plant frame/drive.cpp '#include "scene/world.h"' > /dev/null
python3 "$check" "$work/tree" > "$work/out" 2>&1 || { cat "$work/out"; fail "a downward include was refused"; }
echo "check_layers_test: ok"
