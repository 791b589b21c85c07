#!/usr/bin/env bash
# Builds the network tests with ThreadSanitizer (into build-tsan) and with AddressSanitizer plus
# UndefinedBehaviorSanitizer (into build-asan), and runs them through ctest in each.
# Usage: scripts/test-sanitizers.sh [tsan|asan]...   (both when none is given)
set -euo pipefail
cd "$(dirname "$0")/.."

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run() {
  local dir=$1 sanitize=$2
  echo "== $dir (-fsanitize=$sanitize)"
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVINO_SANITIZE="$sanitize" >/dev/null
  cmake --build "$dir" --target net_tests -j2
  # Only the network tests are built here; the other suites show up as *_NOT_BUILT.
  (cd "$dir" && QT_QPA_PLATFORM=offscreen ../scripts/isolated.sh ctest --output-on-failure -E '_NOT_BUILT' --timeout 600)
}

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(tsan asan)
for t in "${targets[@]}"; do
  case "$t" in
    tsan) run build-tsan thread ;;
    asan) run build-asan address,undefined ;;
    *) echo "unknown target: $t" >&2; exit 2 ;;
  esac
done
