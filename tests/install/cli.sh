#!/usr/bin/env bash
# The installed programs, in an install that was moved after it was made, run
# from a folder without lib/: the game's command line, the order in which the
# data folder is found, the message when there is none, and every tool.
#
#   bash tests/install/cli.sh BUILD_DIR VERSION
name=install_cli
source "$(dirname "$0")/install_common.bash"
need cmp

install_to "$work/made"
mv "$work/made" "$work/p"
bin=$work/p/bin
data=$work/p/share/polydrive/lib
mkdir "$work/here"
cd "$work/here" || stop "cannot enter $work/here"
# No display: whatever tries to open a window fails at once.
unset DISPLAY WAYLAND_DISPLAY
export SDL_VIDEODRIVER=x11

# The game's command line: CODE STREAM PATTERN ARGUMENTS.
while read -r code stream pattern args; do
    # shellcheck disable=SC2086
    expect "$code" "$stream" "$pattern" "$bin/polydrive" $args
    if [ "$code" -eq 2 ]; then
        grep -q '^Usage:.polydrive' "$work/err" || fail "polydrive $args: no usage on stderr"
        [ -s "$work/out" ] && fail "polydrive $args: printed on stdout: $(cat "$work/out")"
    fi
done <<'TABLE'
0 out ^Usage:.polydrive.\[OPTION\] --help
0 out ^Usage:.polydrive.\[OPTION\] -h
0 out --window.WIDTHxHEIGHT --help
2 err unrecognized.option.'--bogus' --bogus
2 err invalid.option.--.'x' -x
2 err invalid.option.--.'x' --fullscreen -xh
2 err option.'--help'.doesn't.allow.an.argument --help=yes
2 err unexpected.argument.'stray' stray
2 err unexpected.argument.'stray' --fullscreen stray
2 err option.'--data'.requires.an.argument --data
2 err --window.needs.WIDTHxHEIGHT --window 319x200
2 err --window.needs.WIDTHxHEIGHT --window 320x199
2 err --window.needs.WIDTHxHEIGHT --window 16385x720
2 err --window.needs.WIDTHxHEIGHT --window 1280
2 err --window.needs.WIDTHxHEIGHT --window 1280x720x2
2 err --window.needs.WIDTHxHEIGHT --window +1280x720
2 err --window.needs.WIDTHxHEIGHT --window 99999999999999999999x720
1 err ^polydrive:.cannot.find.the.game's.data:.no.level1.3dw.in./nowhere.\(--data\)$ --data /nowhere
TABLE
expect 0 out "^polydrive $version\$" "$bin/polydrive" --version
[ "$(wc -l <"$work/out")" -eq 1 ] || fail "--version prints more than one line"
# Good options and the installed data, but no display: the window is what fails.
expect 1 out "cannot initialize video" "$bin/polydrive" --window 1280x720 --fullscreen
expect 1 out "cannot initialize video" "$bin/polydrive"
expect 1 err "no level1.3dw in /nowhere \(POLYDRIVE_DATA\)\$" env POLYDRIVE_DATA=/nowhere "$bin/polydrive"

# Every tool names the version.
for tool in levelc leveldump bitmapc levelcheck polydrive-record polydrive-soak; do
    expect 0 out "^$tool $version\$" "$bin/$tool" --version
    expect 0 out "^usage: $tool" "$bin/$tool" --help
done

# The tools from here: the installed data is found, and what they make is
# what the build's own tools make from the repository.
expect 0 out "^game 7: " "$bin/polydrive-soak" --game 7 --frames 40
expect 0 out "passes every limit" "$bin/levelcheck" --view 0 0 0 --orders 2
grep -q "^levelcheck: $data passes" "$work/out" || fail "levelcheck did not check $data: $(cat "$work/out")"
expect 0 "" "" "$bin/polydrive-record" --frames 1 --out rec
(cd "$src" && "$build/tools/polydrive-record" --frames 1 --out "$work/ref") >/dev/null ||
    stop "the build's recorder failed"
cmp -s rec/frame_00001.png "$work/ref/frame_00001.png" ||
    fail "the installed recorder's first frame differs from the build's"
"$bin/leveldump" "$data/level1.3dw" >level1.world || fail "leveldump of the installed level"
expect 0 "" "" "$bin/levelc" level1.world -o level1.3dw
cmp -s level1.3dw "$data/level1.3dw" || fail "levelc of leveldump's text is not the installed level"
expect 0 "" "" "$bin/bitmapc" "$src/assets/bitmaps/tree.png" -o tree.bit
cmp -s tree.bit "$data/tree.bit" || fail "bitmapc made another tree.bit"

# The order of the places: a folder with the level but no car tells which
# one was taken, since every other place has the car.
mkdir nocar
cp "$data"/* nocar/ && rm nocar/car1.3do
nocar=$work/here/nocar
expect 1 out "cannot load resource .car1\.3do'" "$bin/polydrive-record" --frames 1 --out r1 --data "$nocar"
expect 1 out "cannot load resource .car1\.3do'" env POLYDRIVE_DATA="$nocar" "$bin/polydrive-record" --frames 1 --out r2
expect 1 out "cannot load resource .car1\.3do'" env POLYDRIVE_DATA="$nocar" "$bin/polydrive-soak" --game 1 --frames 5
expect 0 "" "" env POLYDRIVE_DATA="$nocar" "$bin/polydrive-record" --frames 1 --out r3 --data "$data"
expect 0 "" "" env POLYDRIVE_DATA="$data" "$bin/polydrive-record" --frames 1 --out r4
cp -r "$data" full
expect 0 out "^levelcheck: $work/here/full passes" "$bin/levelcheck" --data "$work/here/full" --view 0 0 0 --orders 1
# lib/ below the working directory comes before the installed data.
mkdir -p local && cp -r "$nocar" local/lib
cd local || stop "cannot enter local"
expect 1 out "cannot load resource .car1\.3do'" "$bin/polydrive-record" --frames 1 --out r5
cd .. || stop "cannot leave local"

# Without the installed data and with no lib/ here: one line naming each
# place looked, status 1, and no window opened.
mv "$data" "$work/away"
looked="no level1.3dw in \./lib, $work/p/share/polydrive/lib\$"
expect 1 err "^polydrive: cannot find the game's data: $looked" "$bin/polydrive"
expect 1 err "^polydrive-record: cannot find the game's data: $looked" "$bin/polydrive-record" --frames 1 --out r6
expect 1 err "^levelcheck: cannot find the game's data: $looked" "$bin/levelcheck"
expect 1 err "^polydrive-soak: cannot find the game's data: $looked" "$bin/polydrive-soak" --game 1

[ "$status" -eq 0 ] && echo "$name: the moved install works from a folder without lib/"
exit "$status"
