#!/usr/bin/env bash
# Where the WebAssembly frame's time goes: builds the page with function
# names kept (build-web-prof, otherwise as tools/web.sh builds it), plays the
# recorded lap in headless Chromium under the sampling profiler and prints
# each function's share of the samples.
#
#   bash tests/web/profile.sh            (LOADS=3 TOP=30 by default)
set -euo pipefail
cd "$(dirname "$0")/../.."
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
emcmake cmake -S . -B build-web-prof -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXE_LINKER_FLAGS=--profiling-funcs >/dev/null
cmake --build build-web-prof -j2 --target polydrive_web polydrive_web_page >/dev/null
source tests/web/serve_common.bash
serve_pages "$(realpath build-web-prof)" --isolated
SITE="http://127.0.0.1:$port/site" LAP_KEYS=tests/data/record/lap.keys \
  timeout 600 node tests/web/profile.mjs
