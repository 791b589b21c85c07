#!/bin/sh
# Run under xvfb-run by scripts/test-package.sh, as a user whose home is empty: starts the
# installed talvino from the home folder, accepts the first-use box, types the nickname
# "tester" into the settings window and saves it, then ends the program.
set -eu
cd "$HOME"
talvino >/tmp/talvino.log 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
box=$(timeout 30 xdotool search --sync --onlyvisible --name '^Information$' | head -1)
xdotool windowfocus --sync "$box"
xdotool key Return
settings=$(timeout 30 xdotool search --sync --onlyvisible --name '^系统选项设置$' | head -1)
xdotool windowfocus --sync "$settings"
# The name field has the focus when the window opens; the save button is five stops on
# (three check boxes, the one under them that keeps the log box ticked, then the button).
xdotool type --delay 50 tester
xdotool key --delay 100 Tab Tab Tab Tab Tab space
# The saved box, once the nickname is in the file.
timeout 30 xdotool search --sync --name '^Information$' >/dev/null
for _ in $(seq 1 50); do
  grep -q '^Name=tester' "$HOME/.config/talvino/myinfo.ini" 2>/dev/null && break
  sleep 0.2
done
kill "$pid"
wait "$pid" 2>/dev/null || true
