#!/usr/bin/env bash
# The window game refuses a FIFO or a link to /dev/zero in lib/ (the world or
# a sprite's bitmap) at once, with its one fatal line and status 1, instead of
# hanging in open or reading without end.
#
#   bash tests/e2e/window_hostile_lib.sh BUILD_DIR      (from the repository root)
name=window_hostile_lib
source "$(dirname "$0")/window_common.bash"

game=$(realpath "$game")
start_display
for kind in fifo zero; do
    for file in level1.3dw tree.bit; do
        dir="$tmp/$kind-$file"
        mkdir -p "$dir/lib"
        cp lib/* "$dir/lib/"
        rm "$dir/lib/$file"
        if [ $kind = fifo ]; then mkfifo "$dir/lib/$file"; else ln -s /dev/zero "$dir/lib/$file"; fi
        start=$SECONDS
        (cd "$dir" && exec timeout -k 1 10 "$game" --data lib) >"$tmp/game.out" 2>"$tmp/game.err"
        status=$?
        [ "$status" -eq 1 ] || fail "lib/$file as $kind: exit status $status, not 1: $(cat "$tmp/game.out" "$tmp/game.err")"
        # The data folder is the one holding a regular level1.3dw; any other
        # file that is not one ends the load.
        if [ "$file" = level1.3dw ]; then
            said=$(cat "$tmp/game.err") want="polydrive: cannot find the game's data: no level1.3dw in lib (--data)"
        else
            said=$(cat "$tmp/game.out") want="Fatal error: cannot load resource \`$file'"
        fi
        [ "$said" = "$want" ] || fail "lib/$file as $kind: unexpected output: $(cat "$tmp/game.out" "$tmp/game.err")"
        echo "$name: lib/$file as $kind refused in $((SECONDS - start)) s: $said"
    done
done
