#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as $1) with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/compiler-cache.sh
BUILD_DIR="${1:-build}"
shift || true
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$BUILD_DIR"
