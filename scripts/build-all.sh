#!/usr/bin/env bash
# Configures and builds the host, MinGW i686 and MinGW x86-64 builds with their presets.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for preset in host mingw-i686 mingw-x86-64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
