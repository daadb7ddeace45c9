#!/usr/bin/env bash
# Compares the frame of two web builds: loads of the old and the new page
# alternate (one of each per pair, in alternating order, so both of a pair see
# the same load from the rest of the machine), each plays the recorded lap
# twice, and the second lap's frame (runs of 16 frames, the median run) is
# taken; prints each pair's ratio new / old and the median and range.
#
#   bash tests/web/compare.sh OLD_WEB_DIR NEW_WEB_DIR     (PAIRS=8 by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
[ $# -eq 2 ] || { echo "usage: bash tests/web/compare.sh OLD_WEB_DIR NEW_WEB_DIR" >&2; exit 2; }
source tests/web/serve_common.bash
ln -s "$(realpath "$1")/site" "$tmp/old"
ln -s "$(realpath "$2")/site" "$tmp/new"
serve_pages "$tmp" --isolated
OLD="http://127.0.0.1:$port/old" NEW="http://127.0.0.1:$port/new" \
  LAP_KEYS=tests/data/record/lap.keys LAP_FRAMES=1771 timeout 900 node tests/web/compare.mjs
