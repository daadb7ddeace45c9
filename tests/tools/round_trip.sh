#!/usr/bin/env bash
# leveldump then levelc reproduces every world and model file byte for byte
# (under the raised limits, which hold every shipped level).
set -u
levelc=$1 leveldump=$2 lib=$3 work=$4
mkdir -p "$work"
status=0 count=0
for f in "$lib"/*.3dw "$lib"/*.3do; do
  [ -e "$f" ] || continue
  name=$(basename "$f")
  count=$((count + 1))
  if ! "$leveldump" --limits raised "$f" > "$work/$name.txt"; then
    echo "leveldump failed on $name"; status=1; continue
  fi
  if ! "$levelc" --limits raised "$work/$name.txt" -o "$work/$name"; then
    echo "levelc failed on the dump of $name"; status=1; continue
  fi
  cmp "$f" "$work/$name" || { echo "$name does not survive leveldump + levelc"; status=1; }
done
[ $count -gt 0 ] || { echo "no world or model file in $lib"; status=1; }
exit $status
