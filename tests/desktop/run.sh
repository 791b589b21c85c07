#!/usr/bin/env bash
# Runs the desktop tests (the test program given) against real desktop parts: an X server
# (Xvfb), the openbox window manager, a tray host (trayer, XEmbed) and a notification daemon
# (dunst) on a private D-Bus session bus (dbus-run-session). Exits 77 (skipped) when one of
# them is missing. With SHOTS_DIR set the tests also save screenshots there. The screen is
# 1024x768 unless TALVINO_DESKTOP_SCREEN gives another size (e.g. 1280x800).
# Usage: tests/desktop/run.sh TEST-PROGRAM [gtest arguments...]
set -euo pipefail

for tool in Xvfb openbox trayer dunst dunstctl dbus-run-session dbus-send xdotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "desktop tests skipped: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

export TALVINO_DESKTOP_TEST="$1"
shift
export TALVINO_DESKTOP_ARGS="$*"

# Everything below runs on the private session bus, and ends with it.
exec timeout 280 dbus-run-session -- bash -c '
  set -euo pipefail
  WORK_DIR="$(mktemp -d)"
  cleanup() { kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK_DIR"; }
  trap cleanup EXIT
  # Xvfb picks a free display and names it on descriptor 3.
  Xvfb -displayfd 3 -screen 0 "${TALVINO_DESKTOP_SCREEN:-1024x768}x24" -nolisten tcp 3>"$WORK_DIR/display" 2>"$WORK_DIR/xvfb.log" &
  timeout 20 bash -c "until [ -s \"$WORK_DIR/display\" ]; do sleep 0.1; done"
  export DISPLAY=":$(head -n1 "$WORK_DIR/display")"
  openbox >"$WORK_DIR/openbox.log" 2>&1 &
  timeout 20 bash -c "until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do sleep 0.1; done"
  trayer --edge top --align right --widthtype request --height 28 --SetDockType true --transparent false \
    --tint 0x303030 >"$WORK_DIR/trayer.log" 2>&1 &
  cat >"$WORK_DIR/dunstrc" <<CONF
[global]
    font = WenQuanYi Micro Hei 11
    origin = top-right
    offset = 10x40
    width = 360
    markup = full
    format = "<b>%s</b>\n%b"
    show_indicators = yes
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
[urgency_critical]
    timeout = 0
CONF
  dunst -config "$WORK_DIR/dunstrc" >"$WORK_DIR/dunst.log" 2>&1 &
  timeout 20 bash -c "until dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null | grep -q true; do sleep 0.1; done"
  export QT_QPA_PLATFORM=xcb
  status=0
  "$TALVINO_DESKTOP_TEST" $TALVINO_DESKTOP_ARGS || status=$?
  if [ "$status" -ne 0 ]; then
    echo "--- dunst log"; tail -n 30 "$WORK_DIR/dunst.log"
    echo "--- trayer log"; tail -n 10 "$WORK_DIR/trayer.log"
  fi
  exit "$status"
'
