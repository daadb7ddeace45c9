#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the warnings-as-
# errors build with all tests (window end-to-end ones in Xvfb included), the
# web page in headless Chromium against the recorder's frames, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and every
# fuzz target for a short while (FUZZ_SECONDS each, default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

echo "== build and test (-Werror)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOLYDRIVE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== web page in headless Chromium"
bash tools/web.sh
bash tests/web/run.sh build build-web
bash tests/web/workshop.sh build build-web

echo "== build and test under ASan+UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPOLYDRIVE_WERROR=ON \
  -DPOLYDRIVE_SANITIZE=ON -DPOLYDRIVE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'e2e|package'

echo "== fuzz targets"
bash tools/fuzz.sh "${FUZZ_SECONDS:-30}"
