#!/usr/bin/env bash
# The committed lib/ must be exactly what the build makes from assets/:
# every generated file present and equal, and nothing in lib/ that the build
# does not make.
set -u
gen=$1 lib=$2
status=0
for f in "$gen"/*; do
  name=$(basename "$f")
  if ! cmp -s "$f" "$lib/$name"; then
    echo "lib/$name differs from what the build makes from assets/ (run: cmake --build BUILD --target regen_lib)"
    status=1
  fi
done
for f in "$lib"/*; do
  name=$(basename "$f")
  [ -e "$gen/$name" ] || { echo "lib/$name is not made from any source in assets/"; status=1; }
done
exit $status
