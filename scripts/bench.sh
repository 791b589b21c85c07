#!/usr/bin/env bash
# Builds and runs the benchmarks and writes their markdown tables to stdout and to
# build/bench-results.md (or --out FILE); the programs' warnings go to
# build/bench-data/stderr.log.
#
# Two sets, the LAN set first:
# - lan: as people use the program. Two hosts (network namespaces) joined by a veth pair, the
#   sending roles on one and the receiving ones on the other; the peers' windows on an X display
#   (Xvfb :77 or the next free one, with openbox) on the xcb platform, each once without and once
#   with the accessibility bus (a session bus of its own that starts the accessibility bus, as
#   while a screen reader runs). File transfer of each size from a tmpfs to a tmpfs (mounted at
#   build/bench-lan, 3 GiB, unmounted afterwards) against a plain TCP copy and a zero-copy copy
#   (sendfile, splice), with CPU seconds per thread, and the file windows of two peers that
#   found each other's keys (the file inside TLS); datagram dispatch of a chat-room peer (view
#   shown, chat log saved) against a plain recvfrom loop, flood and 20000 paced over 1 s, and a
#   flood of sealed datagrams; file sets (--set-files small files of 4 KiB, and one file of the
#   largest size) through the set windows of two peers against tar over a TCP pipe (socat), and
#   the large file against the encrypted single-file windows.
#   Each with its targets and met or missed. Program: build/bench/lan_bench.
# - loopback: each benchmark in a network namespace of its own with only loopback (they bind
#   127.0.0.x:2928 and :2921, and the start-up benchmark runs the real program on 0.0.0.0:2928),
#   windows on the offscreen platform: dispatch, sealing and opening envelopes, start-up, transfer (data files in
#   build/bench-data, on disk, removed afterwards), file sets, scale and presence. The file-set
#   benchmark sends --set-files files of 4 KiB (10000) as one set inside TLS against tar over a
#   loopback TCP pipe (socat), one file of the largest --sizes (1 GiB) as a set against the
#   single-file post, and resumes that set after a pause at 60 %, all in build/bench-data.
#   The presence benchmark starts --presence-peers peer processes (50) and watches each window
#   for --presence-seconds (60); fewer make a quick run. The delivery benchmark sends 1000 messages between two peer
#   processes on a bridge, over a clean link and one that drops 30 % each way (iptables), and
#   200 to a peer that is down until it starts. The history benchmark writes a generated chat
#   history as chat logs, imports it and searches it (in build/bench-data, removed afterwards):
#   50000 messages for a quick look, or with --history-size full 1000000 messages and an import
#   of 100000, the sizes its targets are set for.
#
# Options:
#   --out FILE            where the tables are written as well (build/bench-results.md)
#   --only lan|loopback   run one set only
#   --sizes BYTES,...     transfer sizes, smallest first (lan: 67108864,1073741824; loopback:
#                         1048576,67108864,1073741824); the LAN memory target compares the
#                         receiver's peak at the largest size with that at the smallest
#   --repeats N           runs of each transfer kind and of each flood (5)
#   --count N             datagrams of a flood (200000)
#   --runs N              runs of 20000 paced datagrams over the link (5)
#   --lan-part transfer|dispatch|sets   only that part of the LAN set
#   --presence-peers N, --presence-seconds S   see above
#   --set-files N         small files of the file-set benchmarks (10000)
#   --history-size quick|full   the history benchmark's size (quick)
#
# A quick LAN run while working on the program:
#   scripts/bench.sh --only lan --sizes 67108864 --repeats 2 --count 50000 --runs 2
# Needs root (namespaces, veth, tmpfs); installs its packages (scripts/install-bench-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=build/bench-results.md
ONLY=
SIZES=
REPEATS=5
COUNT=200000
RUNS=5
LAN_PART=
PRESENCE_PEERS=50
PRESENCE_SECONDS=60
SET_FILES=10000
HISTORY_SIZE=quick
usage="usage: scripts/bench.sh [--out FILE] [--only lan|loopback] [--sizes BYTES,...] [--repeats N] [--count N] [--runs N] [--lan-part transfer|dispatch|sets] [--presence-peers N] [--presence-seconds S] [--set-files N] [--history-size quick|full]"
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
  case "$1" in
    --out) OUT=$2 ;;
    --only) ONLY=$2 ;;
    --sizes) SIZES=$2 ;;
    --repeats) REPEATS=$2 ;;
    --count) COUNT=$2 ;;
    --runs) RUNS=$2 ;;
    --lan-part) LAN_PART=$2 ;;
    --presence-peers) PRESENCE_PEERS=$2 ;;
    --presence-seconds) PRESENCE_SECONDS=$2 ;;
    --set-files) SET_FILES=$2 ;;
    --history-size) HISTORY_SIZE=$2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  shift 2
done
case "$ONLY" in ""|lan|loopback) ;; *) echo "$usage" >&2; exit 2 ;; esac
case "$HISTORY_SIZE" in quick|full) ;; *) echo "$usage" >&2; exit 2 ;; esac

scripts/install-bench-deps.sh
CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} scripts/build.sh build >/dev/null
mkdir -p build/bench-data "$(dirname "$OUT")"
LAN_DATA=build/bench-lan
XVFB_PID=
OPENBOX_PID=

cleanup() {
  [ -n "$OPENBOX_PID" ] && kill "$OPENBOX_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  if mountpoint -q "$LAN_DATA" 2>/dev/null; then umount "$LAN_DATA"; fi
}

# Xvfb on the first free display from :77 and openbox on it; sets DISPLAY.
start_display() {
  local n=77
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >>build/bench-data/stderr.log 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  timeout 20 bash -c "until xprop -root >/dev/null 2>&1; do sleep 0.1; done"
  openbox >>build/bench-data/stderr.log 2>&1 &
  OPENBOX_PID=$!
  timeout 20 bash -c "until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do sleep 0.1; done"
}

lan() {
  echo "## LAN: two hosts, windows on an X display"
  echo
  start_display
  # A tmpfs left mounted by a run that was killed is reused after a fresh mount.
  if mountpoint -q "$LAN_DATA"; then umount "$LAN_DATA"; fi
  mkdir -p "$LAN_DATA"
  mount -t tmpfs -o size=3g tmpfs "$LAN_DATA"
  local args=(--dir "$LAN_DATA" --repeats "$REPEATS" --count "$COUNT" --runs "$RUNS" --files "$SET_FILES")
  args+=(--sizes "${SIZES:-67108864,1073741824}")
  [ -n "$LAN_PART" ] && args+=(--only "$LAN_PART")
  scripts/isolated.sh build/bench/lan_bench "${args[@]}"
  umount "$LAN_DATA"
}

loopback() {
  echo "## Loopback: one host, windows offscreen"
  echo
  scripts/isolated.sh build/bench/dispatch_bench --count "$COUNT"
  build/bench/seal_bench
  scripts/isolated.sh build/bench/startup_bench --dir build/bench-data
  scripts/isolated.sh build/bench/stream_bench --dir build/bench-data --repeats "$REPEATS" \
    --sizes "${SIZES:-1048576,67108864,1073741824}"
  local largest=${SIZES:-1073741824}
  scripts/isolated.sh build/bench/set_bench --dir build/bench-data --repeats "$REPEATS" \
    --size "${largest##*,}" --files "$SET_FILES"
  scripts/isolated.sh build/bench/scale_bench
  scripts/isolated.sh build/bench/presence_bench --peers "$PRESENCE_PEERS" --idle-seconds "$PRESENCE_SECONDS"
  scripts/isolated.sh build/bench/delivery_bench
  local history=()
  [ "$HISTORY_SIZE" = full ] && history=(--full)
  build/bench/history_bench --dir build/bench-data "${history[@]}"
}

# The tables run in a subshell of the pipeline: its own exit stops the display and unmounts.
{
  trap cleanup EXIT
  echo "## Benchmark results"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -sr)."
  echo
  [ "$ONLY" = loopback ] || lan
  [ "$ONLY" = lan ] || loopback
} 2>build/bench-data/stderr.log | tee "$OUT"
