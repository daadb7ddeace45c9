#!/usr/bin/env bash
# Copies the data the build made into the source tree's lib/, only when the
# game's limits hold for it: a level that levelcheck refuses is never copied,
# and lib/ is then left exactly as it was. Each file is copied beside its
# place and renamed into it, so none is ever half written.
#
#   bash tools/regen_lib.sh LEVELCHECK FROM TO FILE...
#
# The build's regen_lib target runs it with FROM = <build>/lib, TO = lib/.
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: bash tools/regen_lib.sh LEVELCHECK FROM TO FILE..." >&2; exit 2; }
levelcheck=$1 from=$2 to=$3
shift 3
# Each level is held to the classic limits unless it and the car are larger
# than the classic pool, which only the raised limits play. Projection wraps
# are reported but accepted, as the build accepts them for the shipped levels.
car_size=$(stat -c %s "$from/car1.3do" 2>/dev/null || echo 0)
for world in "$from"/level*.3dw; do
  [ -e "$world" ] || continue
  number=$(basename "$world" .3dw); number=${number#level}
  limits=classic
  [ $(( $(stat -c %s "$world") + car_size )) -le 10240 ] || limits=raised
  if ! "$levelcheck" "$from" --level "$number" --limits "$limits" --allow-wrap --quiet; then
    echo "regen_lib: $from fails levelcheck (above); $to is left as it was" >&2
    exit 1
  fi
done
for file in "$@"; do
  name=$(basename "$file")
  tmp=$(mktemp "$to/.$name.XXXXXX")
  cp "$file" "$tmp" && chmod 644 "$tmp" && mv -f "$tmp" "$to/$name" || { rm -f "$tmp"; exit 1; }
done
echo "regen_lib: $from passes levelcheck; copied $# files into $to"
