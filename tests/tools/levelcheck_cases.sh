#!/usr/bin/env bash
# levelcheck refuses each deliberately broken level in tests/data/levels/ with
# the line its folder's `expect` file names. A case folder holds level1.world
# and optionally car1.model and bitmaps (*.bit); the car and bitmaps it lacks
# come from assets/ and lib/. The world is compiled under the raised limits:
# the bytes are the same, and a world that the classic game refuses (which
# levelc would refuse under the classic limits) is still written for
# levelcheck to refuse.
set -u
levelc=$1 levelcheck=$2 cases=$3 work=$4
status=0
for dir in "$cases"/*/; do
  name=$(basename "$dir")
  lib="$work/$name/lib"
  rm -rf "$work/$name"; mkdir -p "$lib"
  cp lib/*.bit "$lib"/
  cp "$dir"/*.bit "$lib"/ 2>/dev/null
  car=assets/car1.model
  [ -e "$dir/car1.model" ] && car="$dir/car1.model"
  if ! "$levelc" --limits raised "$dir/level1.world" -o "$lib/level1.3dw" || ! "$levelc" "$car" -o "$lib/car1.3do"; then
    echo "$name: does not compile"; status=1; continue
  fi
  out=$("$levelcheck" "$lib" --grid 16 --headings 24 --orders 30)
  code=$?
  expect=$(head -n 1 "$dir/expect")
  if [ $code -ne 1 ]; then
    echo "$name: levelcheck exited with $code, not 1"; echo "$out"; status=1
  elif ! grep -qF -- "$expect" <<<"$out"; then
    echo "$name: no line says: $expect"; echo "$out"; status=1
  else
    echo "$name: $(grep -F -m1 -- "$expect" <<<"$out")"
  fi
done
exit $status
