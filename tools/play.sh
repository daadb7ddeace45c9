#!/usr/bin/env bash
# Installs what is missing, builds, and starts the game from the repository
# root (the game reads its level from lib/ below the working directory). The
# build has a folder of its own, build-play/, so that neither the tests'
# folder nor a build/ of the user's is reconfigured.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build-play -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-play -j"$(nproc)" --target polydrive
exec ./build-play/polydrive "$@"
