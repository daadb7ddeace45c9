#!/usr/bin/env bash
# What `cmake --install` puts below a prefix: the programs, the data as the
# repository holds it, the desktop entry and AppStream metadata (both pass
# their validators), the icons, the licence, and a manual page for each
# program that documents every option its --help names.
#
#   bash tests/install/files.sh BUILD_DIR VERSION
name=install_files
source "$(dirname "$0")/install_common.bash"
need desktop-file-validate appstreamcli python3

install_to "$work/p"
P=$work/p
tools="levelc leveldump bitmapc levelcheck polydrive-record polydrive-soak"

for program in polydrive $tools; do
    [ -x "$P/bin/$program" ] || fail "bin/$program is missing"
done
[ "$(readlink "$P/games/polydrive")" = ../bin/polydrive ] || fail "games/polydrive is not a link to ../bin/polydrive"
diff -r "$src/lib" "$P/share/polydrive/lib" >/dev/null || fail "share/polydrive/lib is not lib/"

desktop=$P/share/applications/polydrive.desktop
metainfo=$P/share/metainfo/org.polydrive.polydrive.metainfo.xml
if [ -f "$desktop" ]; then
    desktop-file-validate "$desktop" >"$work/v" 2>&1 || fail "desktop-file-validate: $(cat "$work/v")"
else
    fail "no desktop entry"
fi
if [ -f "$metainfo" ]; then
    appstreamcli validate --pedantic --no-net "$metainfo" >"$work/v" 2>&1 ||
        fail "appstreamcli validate --pedantic: $(cat "$work/v")"
    grep -qE '^[IP]:' "$work/v" && fail "appstreamcli validate --pedantic notes: $(cat "$work/v")"
    for control in keyboard gamepad touch; do
        grep -q "<control>$control</control>" "$metainfo" || fail "metainfo does not name the $control control"
    done
    grep -q '<project_license>MIT</project_license>' "$metainfo" || fail "metainfo names no MIT licence"
    grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo lacks release $version"
else
    fail "no AppStream metadata"
fi

cmp -s "$src/LICENSE" "$P/share/doc/polydrive/copyright" || fail "share/doc/polydrive/copyright is not LICENSE"
grep -q '^Copyright (c) 2026 the polydrive authors$' "$src/LICENSE" || fail "LICENSE lacks its copyright line"

# Icons: square PNG pictures of their folder's size.
for size in 48 64 128 256; do
    icon=$P/share/icons/hicolor/${size}x${size}/apps/polydrive.png
    [ -f "$icon" ] || { fail "no ${size}x${size} icon"; continue; }
    got=$(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else "not a PNG")' "$icon")
    [ "$got" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $got"
done

# Manual pages: the game in section 6, the tools in 1; each names the
# version and every long option of its program's --help.
for program in polydrive $tools; do
    section=1
    [ "$program" = polydrive ] && section=6
    page=$P/share/man/man$section/$program.$section.gz
    [ -f "$page" ] || { fail "no manual page $program.$section.gz"; continue; }
    zcat "$page" | sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' >"$work/page" || fail "$page is not gzip"
    grep -q "^\\.TH \"\\?${program^^}\"\\? \"\\?$section\"\\?" "$work/page" ||
        grep -qi "^\\.TH $program $section" "$work/page" || fail "$program.$section: no .TH line for section $section"
    grep -q "$program $version" "$work/page" || fail "$program.$section does not name version $version"
    "$P/bin/$program" --help >"$work/help" || fail "$program --help failed"
    for option in $(grep -oE -- '--[a-z][a-z-]*' "$work/help" | sort -u); do
        grep -qF -- "$option" "$work/page" || fail "$program.$section lacks $option"
    done
    # Every term the page lists starts a line of --help (a wrapped line of a
    # description taken for a term garbles the page).
    python3 - "$work/page" "$work/help" <<'PY' || fail "$program.$section: garbled terms"
import sys
page = open(sys.argv[1]).read().splitlines()
help_lines = open(sys.argv[2]).read().splitlines()
starts = [l.strip() for l in help_lines if len(l) - len(l.lstrip()) <= 8]
bad = [page[i + 1] for i, l in enumerate(page[:-1]) if l.startswith('.TP')
       and not any(s.startswith(page[i + 1].strip().replace('\\(bu', '').strip()[:20]) for s in starts)]
for term in bad:
    print('term not a line of --help:', term)
sys.exit(1 if bad else 0)
PY
done

# The game's page tells about the keys, the gamepad, the screenshots, how a
# game ends, its files and its environment.
page=$P/share/man/man6/polydrive.6.gz
for want in '^\.SH FILES' '^\.SH ENVIRONMENT' '^\.S[HS] "(EXIT STATUS|Exit status:)"' 'F12' '[Gg]amepad' 'XDG_PICTURES_DIR' \
    'time is up' 'SIGALRM'; do
    zcat "$page" | grep -qE -- "$want" || fail "polydrive.6 lacks /$want/"
done

[ "$status" -eq 0 ] && echo "$name: every installed file is in place and valid"
exit "$status"
