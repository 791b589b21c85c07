#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
cd build
QT_QPA_PLATFORM=offscreen ../scripts/isolated.sh ctest --output-on-failure -j2 --timeout 300
