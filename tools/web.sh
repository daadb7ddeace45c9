#!/usr/bin/env bash
# Builds the web page of the game into build-web/site/, one folder of static
# files that any static web server can serve, after installing what is
# missing: Debian's emscripten, chromium and node for the build and the
# browser test, and the test's npm packages as tests/web/package-lock.json
# pins them.
#
#   bash tools/web.sh                  build
#   bash tools/web.sh --serve [PORT]   build, then serve it on 127.0.0.1:PORT (8000)
set -euo pipefail
cd "$(dirname "$0")/.."

serve=0
port=8000
case "${1:-}" in
  "") ;;
  --serve) serve=1; port=${2:-8000} ;;
  *) echo "usage: bash tools/web.sh [--serve [PORT]]" >&2; exit 2 ;;
esac

# Debian packages, by the command each brings.
missing=()
need() { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need emcc emscripten
need chromium chromium
need node nodejs
need npm npm
need python3 python3
need convert imagemagick
need cmake cmake
need make make
if [ ${#missing[@]} -gt 0 ]; then
  as_root=()
  [ "$(id -u)" -ne 0 ] && as_root=(sudo)
  echo "web: installing ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The browser test's packages, exactly as locked; again only when the lock changed.
stamp=tests/web/node_modules/.package-lock.json
if [ ! -f "$stamp" ] || [ tests/web/package-lock.json -nt "$stamp" ]; then
  echo "web: npm ci (tests/web)"
  npm ci --prefix tests/web --no-audit --no-fund --loglevel=error >/dev/null
fi

# Debian's emscripten runs its JavaScript tools with the system's node modules.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release -DPOLYDRIVE_WERROR=ON >/dev/null
cmake --build build-web -j"$(nproc)"
echo "web: the page is in build-web/site/ ($(du -sb build-web/site | cut -f1) bytes)"

if [ "$serve" -eq 1 ]; then
  echo "web: open http://127.0.0.1:$port/ (Ctrl+C stops the server)"
  exec python3 -m http.server --bind 127.0.0.1 --directory build-web/site "$port"
fi
