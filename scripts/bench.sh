#!/usr/bin/env bash
# Builds the benchmark and posts a 1 GiB body (or --size BYTES) from the stream sender to the
# stream receiver over loopback, against a plain TCP copy of the same file; prints a table.
# The data files go to build/bench-data (on disk, removed afterwards).
# Usage: scripts/bench.sh [--size BYTES] [--ip 127.0.0.2] [--port 2921]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
mkdir -p build/bench-data
exec build/bench/stream_bench --dir build/bench-data "$@"
