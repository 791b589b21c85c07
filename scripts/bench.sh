#!/usr/bin/env bash
# Builds and runs every benchmark, each in a network namespace of its own (they bind
# 127.0.0.x:2928 and :2921, and the start-up benchmark runs the real program on 0.0.0.0:2928),
# and writes their markdown tables to stdout and to build/bench-results.md (or --out FILE).
# Transfer data files go to build/bench-data (on disk, removed afterwards); the programs'
# warnings go to build/bench-data/stderr.log.
# The presence benchmark starts --presence-peers peer processes (50) and watches each window
# for --presence-seconds (60); fewer make a quick run.
# Usage: scripts/bench.sh [--out FILE] [--sizes BYTES,BYTES,...] [--presence-peers N] [--presence-seconds S]
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=build/bench-results.md
SIZES=1048576,67108864,1073741824
PRESENCE_PEERS=50
PRESENCE_SECONDS=60
while [ $# -gt 0 ]; do
  case "$1" in
    --out) OUT=$2; shift 2 ;;
    --sizes) SIZES=$2; shift 2 ;;
    --presence-peers) PRESENCE_PEERS=$2; shift 2 ;;
    --presence-seconds) PRESENCE_SECONDS=$2; shift 2 ;;
    *) echo "usage: scripts/bench.sh [--out FILE] [--sizes BYTES,...] [--presence-peers N] [--presence-seconds S]" >&2; exit 2 ;;
  esac
done
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} scripts/build.sh build >/dev/null
mkdir -p build/bench-data "$(dirname "$OUT")"
{
  echo "## Benchmark results"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -sr)."
  echo
  scripts/isolated.sh build/bench/dispatch_bench
  scripts/isolated.sh build/bench/startup_bench --dir build/bench-data
  scripts/isolated.sh build/bench/stream_bench --dir build/bench-data --sizes "$SIZES"
  scripts/isolated.sh build/bench/scale_bench
  scripts/isolated.sh build/bench/presence_bench --peers "$PRESENCE_PEERS" --idle-seconds "$PRESENCE_SECONDS"
} 2>build/bench-data/stderr.log | tee "$OUT"
