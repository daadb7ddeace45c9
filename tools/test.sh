#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the warnings-as-
# errors build with all tests (window end-to-end ones in Xvfb included), the
# web page in headless Chromium against the recorder's frames, the
# same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and every
# fuzz target for a short while (FUZZ_SECONDS each, default 30). Every build
# type the README names is built with -Werror: RelWithDebInfo (the tests, in
# build-test/), Release (build-release/, as play.sh and the package build it)
# and Debug (the sanitizer build, build-asan/). Each has a folder of its own,
# so no run reconfigures another's and build/ stays the user's.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
jobs=$(nproc)

echo "== build and test (-Werror)"
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOLYDRIVE_WERROR=ON >/dev/null
cmake --build build-test -j"$jobs"
ctest --test-dir build-test --output-on-failure -j"$jobs"

echo "== Release build (-Werror)"
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DPOLYDRIVE_WERROR=ON >/dev/null
cmake --build build-release -j"$jobs"

echo "== web page in headless Chromium"
bash tools/web.sh
bash tests/web/run.sh build-test build-web
bash tests/web/workshop.sh build-test build-web

echo "== build and test under ASan+UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DPOLYDRIVE_WERROR=ON \
  -DPOLYDRIVE_SANITIZE=ON -DPOLYDRIVE_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'e2e|package'

echo "== fuzz targets"
bash tools/fuzz.sh "${FUZZ_SECONDS:-30}"
