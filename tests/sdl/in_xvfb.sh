#!/usr/bin/env bash
# Runs a program (with its arguments) in an Xvfb display of its own and
# passes its exit status on.
#
#   bash tests/sdl/in_xvfb.sh PROGRAM [ARGS...]
set -u
command -v Xvfb >/dev/null || { echo "in_xvfb: Xvfb is not installed" >&2; exit 1; }
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
done
[ -s "$tmp/display" ] || { echo "in_xvfb: Xvfb did not start: $(cat "$tmp/xvfb.log")" >&2; exit 1; }
# Under LeakSanitizer, leaks inside the system's libraries are not ours.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp"
DISPLAY=":$(head -n 1 "$tmp/display")" "$@"
