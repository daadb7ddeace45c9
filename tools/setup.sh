#!/usr/bin/env bash
# Installs what building, playing and testing polydrive need on Debian 12,
# skipping what is already there. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  clang libclang-rt-14-dev clang-format-14
  libsdl2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libstb-dev libtinyobjloader-dev
  xvfb xdotool x11-utils xauth python3 strace imagemagick
  help2man dpkg-dev fakeroot lintian desktop-file-utils appstream openbox
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
