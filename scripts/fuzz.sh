#!/usr/bin/env bash
# Builds the fuzz targets with clang++ (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs them one after the other, each for a bounded time, starting from its
# seed corpus in fuzz/corpus/<target>. Any finding (a crash, leak, overrun, undefined
# behaviour, broken check or hang) fails the run; the input that caused it is kept in
# build-fuzz/findings/<target>/ and the target's output in build-fuzz/fuzz-<target>.log.
# The targets that use loopback sockets run in a network namespace of their own.
# Usage: scripts/fuzz.sh [--seconds N] [target...]
#   --seconds N   time per target (default 60)
#   target        datagram, sequence, stream, contacts, gbk, envelope, presence, message, manifest
#                 (default: all nine)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    datagram|sequence|stream|contacts|gbk|envelope|presence|message|manifest) targets+=("$1"); shift ;;
    *) echo "usage: scripts/fuzz.sh [--seconds N] [datagram|sequence|stream|contacts|gbk|envelope|presence|message|manifest]..." >&2; exit 2 ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=(datagram sequence stream contacts gbk envelope presence message manifest)

# Longest input per target: datagrams reach past the endpoint's 2048-byte receive buffer;
# a sequence holds up to 48 datagrams of up to 127 bytes;
# streams, files and texts stay a few kilobytes long, so that each run stays fast; envelopes
# reach past the largest one (1083 bytes); presence inputs (an address byte and a datagram)
# reach past the 255-byte datagram; messages (a sender byte and the inner bytes) past 20 + 255;
# manifests reach past one entry of the longest path (4096 bytes), and hold offers and answers.
declare -A max_len=([datagram]=4096 [sequence]=2048 [stream]=8192 [contacts]=4096 [gbk]=1024 [envelope]=2048 [presence]=512 [message]=512 [manifest]=8192)

scripts/install-deps.sh
scripts/install-fuzz-deps.sh
source scripts/compiler-cache.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTALVINO_FUZZ=ON -DTALVINO_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for t in "${targets[@]}"; do
  work=build-fuzz/corpus/$t          # grows during the run; the committed seeds stay as they are
  findings=build-fuzz/findings/$t
  log=build-fuzz/fuzz-$t.log
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings"
  args=(-max_total_time="$seconds" -timeout=20 -max_len="${max_len[$t]}" -print_final_stats=1
        -artifact_prefix="$findings/")
  [ -f "fuzz/$t.dict" ] && args+=(-dict="fuzz/$t.dict")
  echo "== fuzz_$t: $seconds s"
  if ! scripts/isolated.sh "build-fuzz/fuzz/fuzz_$t" "${args[@]}" "$work" "fuzz/corpus/$t" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAILED: fuzz_$t found a fault; the input is in $findings/" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
done
echo "fuzzing: ${#targets[@]} targets, no findings"
