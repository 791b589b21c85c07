#!/usr/bin/env bash
# Runs a test program whose windows are read over the accessibility bus, as a screen reader
# reads them: an X server (Xvfb; the bridge to the accessibility bus needs a real display
# platform), a private D-Bus session bus (dbus-run-session), the accessibility bus on it
# (at-spi-bus-launcher, started by asking for its address) with its screen reader status on,
# and the program's bridge forced on (QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1). Exits 77 (skipped)
# when one of them is missing.
# Usage: tests/a11y/run.sh TEST-PROGRAM [gtest arguments...]
set -euo pipefail

for tool in Xvfb dbus-run-session dbus-send /usr/libexec/at-spi-bus-launcher; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "accessibility tests skipped: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

export TALVINO_A11Y_TEST="$1"
shift
export TALVINO_A11Y_ARGS="$*"

# Everything below runs on the private session bus, and ends with it.
exec timeout 280 dbus-run-session -- bash -c '
  set -euo pipefail
  WORK_DIR="$(mktemp -d)"
  cleanup() { kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$WORK_DIR"; }
  trap cleanup EXIT
  # Xvfb picks a free display and names it on descriptor 3.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK_DIR/display" 2>"$WORK_DIR/xvfb.log" &
  timeout 20 bash -c "until [ -s \"$WORK_DIR/display\" ]; do sleep 0.1; done"
  export DISPLAY=":$(head -n1 "$WORK_DIR/display")"
  # Asking for the address starts the accessibility bus; a screen reader turns its status on.
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
    string:org.a11y.Status string:ScreenReaderEnabled variant:boolean:true >/dev/null
  export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  "$TALVINO_A11Y_TEST" $TALVINO_A11Y_ARGS
'
