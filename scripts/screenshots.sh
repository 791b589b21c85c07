#!/usr/bin/env bash
# Takes screenshots of every window under Xvfb with the openbox window manager, in a light and
# a dark palette: the main window, a message window that arrived while the person typed in
# another, the chat-room view, the settings window, both file windows (with the longest values:
# a 20-byte nickname, 2 GiB - 1 bytes), the "为什么看不到？" window, a safety code, a message
# window whose peer's key changed, the whole desktop, and a box
# over the window that raised it. The windows come from the screenshot tour (tests/tour), two peers in one process.
# Then the history's search window with a few hits and one in its conversation (tests/tour/HistoryTour.cpp).
# Usage: scripts/screenshots.sh [build-dir] [output-dir] [display]
# Needs xvfb, openbox, xdotool and imagemagick (installed here when missing; the program does not
# need them). Runs in a network namespace of its own where it can (scripts/isolated.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="$(realpath "${1:-build}")"
OUT_DIR="$(realpath -m "${2:-docs/screenshots}")"
DISPLAY_NUMBER="${3:-:53}"

scripts/apt-install.sh xvfb xauth x11-utils xdotool imagemagick openbox

WORK_DIR="$(mktemp -d)"
trap 'rm -rf "$WORK_DIR"' EXIT
mkdir -p "$OUT_DIR"
export WORK_DIR OUT_DIR DISPLAY_NUMBER TOUR="$BUILD_DIR/tests/tour/screenshot_tour" \
  HISTORY_TOUR="$BUILD_DIR/tests/tour/history_tour"

timeout 300 scripts/isolated.sh bash -c '
  set -euo pipefail
  export DISPLAY="$DISPLAY_NUMBER" QT_QPA_PLATFORM=xcb
  Xvfb "$DISPLAY" -screen 0 1920x1000x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap "kill \$(jobs -p) 2>/dev/null || true" EXIT
  timeout 20 bash -c "until xdpyinfo >/dev/null 2>&1 || xdotool getdisplaygeometry >/dev/null 2>&1; do sleep 0.1; done"
  openbox >/dev/null 2>&1 &
  timeout 20 bash -c "until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do sleep 0.1; done"
  for palette in light dark; do
    folder="$WORK_DIR/$palette"
    mkdir -p "$folder"
    mkfifo "$folder/ids"
    "$TOUR" "$palette" "$folder" >"$folder/ids" 2>"$folder/log" &
    tour=$!
    declare -A ids=()
    while read -r name id; do
      [ "$name" = ready ] && break
      [ "$name" = keyboard ] && echo "keyboard of the typing window after two messages arrived: $id" >"$OUT_DIR/focus-$palette.txt"
      ids[$name]=$id
    done <"$folder/ids"
    sleep 1 # the window manager draws its frames
    import -window root "$OUT_DIR/desktop-$palette.png"
    # Each window on top in turn: the covered parts of a window read as black.
    for name in main message typing chatroom settings sendfile receivefile sendset receiveset why keychanged safetycode; do
      # The window manager stacks its frame, the window'"'"'s parent: that is what goes on top.
      frame=$(xwininfo -tree -id "${ids[$name]}" | sed -n "s/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p")
      xdotool windowraise "$frame"
      sleep 0.5
      import -frame -window "${ids[$name]}" "$OUT_DIR/$name-$palette.png"
    done
    touch "$folder/box"
    timeout 20 xdotool search --sync --name "^Information\$" >/dev/null
    sleep 1
    import -window root "$OUT_DIR/box-$palette.png"
    kill "$tour" 2>/dev/null || true
    wait "$tour" 2>/dev/null || true
    mkfifo "$folder/history-ids"
    "$HISTORY_TOUR" "$palette" "$folder/history" >"$folder/history-ids" 2>"$folder/history-log" &
    tour=$!
    while read -r name id; do
      [ "$name" = ready ] && break
      ids[$name]=$id
    done <"$folder/history-ids"
    sleep 1
    import -frame -window "${ids[historysearch]}" "$OUT_DIR/history-search-$palette.png"
    kill "$tour" 2>/dev/null || true
    wait "$tour" 2>/dev/null || true
  done
'
echo "Screenshots in $OUT_DIR"
