#!/usr/bin/env bash
# The README's main command: pack the sample files in examples/ into a payload and list what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" --target brimsole-pack
mkdir -p out
pack=build/host/pack/brimsole-pack
"$pack" payload -o out/payload.bin --launch install.bat examples/install.bat examples/readme.txt examples/data.bin
"$pack" list out/payload.bin
