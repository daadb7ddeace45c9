#!/usr/bin/env bash
# The Debian package extracted with dpkg -x into a scratch root: its game,
# started from a folder without lib/, finds the data beside it and shows the
# recorder's first frame in Xvfb (tests/e2e/first_frame.sh does the looking).
#
#   bash tests/install/package_runs.sh BUILD_DIR VERSION
name=package_runs
source "$(dirname "$0")/install_common.bash"
need dpkg-deb
deb=$build/package-test/polydrive_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || stop "no package $deb (package_build makes it)"
dpkg-deb -x "$deb" "$work/root" || stop "dpkg -x failed"
mkdir "$work/here"
cd "$work/here" || stop "cannot enter $work/here"
POLYDRIVE_GAME=$work/root/usr/bin/polydrive bash "$src/tests/e2e/first_frame.sh" "$build" ||
    stop "the packaged game did not show the recorder's first frame"
echo "$name: the packaged game, extracted, shows the recorder's first frame"
