#!/usr/bin/env bash
# Takes screenshots of the main window and the settings window of a first start, under Xvfb.
# Usage: scripts/screenshots.sh [build-dir] [output-dir]
# Needs xvfb, xdotool and imagemagick (installed here when missing; the program does not need them).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(realpath "${1:-build}")"
OUT_DIR="$(realpath -m "${2:-docs/screenshots}")"

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
missing=()
for p in xvfb xauth xdotool imagemagick; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A copy of the program in a folder of its own, so that it starts as on first use.
RUN_DIR="$(mktemp -d)"
trap 'rm -rf "$RUN_DIR"' EXIT
cp "$BUILD_DIR/app/talvino" "$BUILD_DIR/app/readme.txt" "$RUN_DIR/"
mkdir -p "$OUT_DIR"

export RUN_DIR OUT_DIR
timeout 120 xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  set -euo pipefail
  cd "$RUN_DIR"
  ./talvino >/dev/null 2>&1 &
  pid=$!
  trap "kill $pid 2>/dev/null || true" EXIT
  # First use: the nickname box, then the settings window beside the main window.
  timeout 30 xdotool search --sync --name "^Information\$" >/dev/null
  sleep 1
  xdotool key Return
  settings=$(timeout 30 xdotool search --sync --name "^系统选项设置\$" | head -1)
  main=$(xdotool search --name "^Talvino\$" | head -1)
  xdotool windowmove "$main" 40 40
  xdotool windowmove "$settings" 240 40
  sleep 1
  import -window "$main" "$OUT_DIR/main-window.png"
  import -window "$settings" "$OUT_DIR/settings-window.png"
'
echo "Screenshots in $OUT_DIR"
