#!/usr/bin/env bash
# Installs what is missing, builds, and starts the game from the repository
# root (the game reads its level from lib/ below the working directory).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target polydrive
exec ./build/polydrive
