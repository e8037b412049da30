#!/usr/bin/env bash
# Installs everything the builds and tests use, on Debian 12. Safe to run again.
set -euo pipefail
packages=(
  cmake g++ make zlib1g-dev libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-mingw-w64
  python3-pefile wine wine64 xvfb xauth imagemagick
)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
