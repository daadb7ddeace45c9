#!/usr/bin/env bash
# The installed game, in an install moved after it was made and started from
# a folder without lib/, shows in Xvfb the first frame the build's recorder
# makes, drives, and ends on Escape (tests/e2e/first_frame.sh does the
# looking).
#
#   bash tests/install/first_frame.sh BUILD_DIR VERSION
name=install_first_frame
source "$(dirname "$0")/install_common.bash"

install_to "$work/made"
mv "$work/made" "$work/p"
mkdir "$work/here"
cd "$work/here" || stop "cannot enter $work/here"
POLYDRIVE_GAME=$work/p/bin/polydrive bash "$src/tests/e2e/first_frame.sh" "$build" ||
    stop "the installed game did not show the recorder's first frame"
echo "$name: the moved install's game shows the recorder's first frame"
