#!/usr/bin/env bash
# The game's outputs follow the tools' rules: --record-demo onto a FIFO, a
# device, a folder, a folder that is not there, a file of the data folder
# (by its name or a second one) or the settings file the game read is
# refused in one line before the window opens (run with no display, a game
# that got that far would say it cannot open one), and each target is left
# as it was; --help and --version into a full disk fail.
#
#   bash tests/e2e/game_outputs.sh BUILD_DIR      (from the repository root)
name=game_outputs
source "$(dirname "$0")/window_common.bash"
unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER

# refused TARGET WHY [OPTION...]: exit 1 within 5 seconds, one fatal line on
# standard output naming TARGET and WHY, nothing on standard error.
refused() {
    local target=$1 why=$2
    shift 2
    timeout -k 1 5 env XDG_CONFIG_HOME="$tmp/config" "$game" "$@" --record-demo "$target" \
        >"$tmp/game.out" 2>"$tmp/game.err"
    local got=$?
    [ "$got" -eq 1 ] || fail "--record-demo $target: exit status $got: $(cat "$tmp/game.out" "$tmp/game.err")"
    [ "$(cat "$tmp/game.out")" = "Fatal error: cannot write demo: $target: $why" ] ||
        fail "--record-demo $target said: $(cat "$tmp/game.out")"
    [ -s "$tmp/game.err" ] && fail "--record-demo $target also said: $(cat "$tmp/game.err")"
    return 0
}

lib_sums() { (cd "$1" && sha256sum ./*); }
before=$(lib_sums lib)
mkdir -p "$tmp/config/polydrive" "$tmp/folder"
printf 'scale = 1\n' >"$tmp/config/polydrive/polydrive.conf"
cp -r lib "$tmp/lib"
ln "$tmp/lib/car1.3do" "$tmp/car-again.3do"
mkfifo "$tmp/fifo"

refused "$tmp/fifo" "not a regular file; refusing to replace it"
refused /dev/null "not a regular file; refusing to replace it"
refused "$tmp/folder" "not a regular file; refusing to replace it"
refused "$tmp/nowhere/demo.keys" "No such file or directory"
refused lib/level1.3dw "is an input of this run; refusing to write over it"
refused "$tmp/lib/level1.3dw" "is an input of this run; refusing to write over it" --data "$tmp/lib"
refused "$tmp/car-again.3do" "is an input of this run; refusing to write over it" --data "$tmp/lib"
refused "$tmp/config/polydrive/polydrive.conf" "is an input of this run; refusing to write over it"

[ -p "$tmp/fifo" ] && [ -c /dev/null ] && [ -d "$tmp/folder" ] || fail "a refused target was replaced"
[ "$(lib_sums lib)" = "$before" ] || fail "lib/ changed"
[ "$(lib_sums "$tmp/lib")" = "$before" ] || fail "the copied data folder changed"
[ "$(cat "$tmp/config/polydrive/polydrive.conf")" = "scale = 1" ] || fail "the settings file changed"
ls "$tmp" "$tmp/lib" lib | grep -q '\.tmp-' && fail "a temporary file was left"

# A full disk under --help and --version is a failure, said in one line.
for option in --help --version; do
    timeout -k 1 5 "$game" "$option" >/dev/full 2>"$tmp/game.err"
    got=$?
    [ "$got" -eq 1 ] || fail "$option into a full disk: exit status $got"
    [ "$(wc -l <"$tmp/game.err")" -eq 1 ] && grep -q "No space left on device" "$tmp/game.err" ||
        fail "$option into a full disk said: $(cat "$tmp/game.err")"
done
echo "$name: every refused demo target named in one line before the window, lib/ untouched"
