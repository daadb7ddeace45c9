#!/usr/bin/env bash
# Makes the Debian package with cpack into BUILD_DIR/package-test, for the
# package_* tests that look into it.
#
#   bash tests/install/package_build.sh BUILD_DIR VERSION
name=package_build
source "$(dirname "$0")/install_common.bash"
need cpack dpkg dpkg-shlibdeps
out=$build/package-test
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out") >"$work/cpack.log" 2>&1 || stop "cpack failed: $(cat "$work/cpack.log")"
deb=$out/polydrive_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || stop "cpack made no $deb: $(cat "$work/cpack.log")"
echo "$name: made $deb"
