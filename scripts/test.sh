#!/usr/bin/env bash
# The README's test command: install, build the three builds, run every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/setup-win32.sh
bash scripts/build-all.sh
ctest --test-dir build/host --output-on-failure -j "$(nproc)"
