#!/usr/bin/env bash
# The Debian package made by package_build: its control fields (dependencies
# found by dpkg-shlibdeps), exactly the files an install into /usr makes,
# owned by root, no lintian error, and no hardening or unneeded-section tag.
#
#   bash tests/install/package_check.sh BUILD_DIR VERSION
name=package_check
source "$(dirname "$0")/install_common.bash"
need dpkg-deb lintian
deb=$build/package-test/polydrive_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || stop "no package $deb (package_build makes it)"

dpkg-deb --info "$deb" >"$work/info" || stop "dpkg-deb --info failed"
for field in '^ Package: polydrive$' "^ Version: $version\$" '^ Section: games$' '^ Maintainer: .+<.+@.+>$' \
    '^ Depends: .*libsdl2-2\.0-0 \(>= ' '^ Depends: .*libc6 \(>= ' '^ Description: .+' '^ Installed-Size: [0-9]+$'; do
    grep -qE -- "$field" "$work/info" || fail "control lacks /$field/: $(cat "$work/info")"
done

# The package holds every file an install into /usr makes, and nothing else.
DESTDIR=$work/root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
    stop "cmake --install failed: $(cat "$work/install.log")"
(cd "$work/root" && find . ! -type d | sort) >"$work/installed"
dpkg-deb --contents "$deb" >"$work/contents" || stop "dpkg-deb --contents failed"
awk '$1 !~ /^d/ {print $6}' "$work/contents" | sort >"$work/packaged"
diff "$work/installed" "$work/packaged" >"$work/diff" ||
    fail "the package's files differ from an install (< install, > package): $(cat "$work/diff")"
awk '$2 != "root/root" {print}' "$work/contents" | grep -q . && fail "files not owned by root: $(awk '$2 != "root/root"' "$work/contents")"

# lintian: no error (warnings are shown), and even pedantically no tag of
# missing hardening or of sections a stripped program should not keep.
timeout 400 lintian --fail-on error --pedantic "$deb" >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
sed "s/^/$name: lintian: /" "$work/lintian"
grep -E 'hardening-no-|binary-has-unneeded-section' "$work/lintian" && fail "lintian tags above"

[ "$status" -eq 0 ] && echo "$name: $(basename "$deb") holds the install, with its dependencies, and passes lintian"
exit "$status"
