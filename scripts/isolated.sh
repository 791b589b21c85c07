#!/usr/bin/env bash
# Runs a command in a network namespace of its own with only the loopback interface up, so
# that tests binding 127.0.0.x:2928 and :2921 never meet a running messenger or another test
# run on this machine. Falls back to running the command as it is where namespaces are not
# allowed (not root, or inside a container that forbids them).
set -euo pipefail
if command -v ip >/dev/null && unshare -n ip link set lo up 2>/dev/null; then
  exec unshare -n bash -c 'ip link set lo up && exec "$@"' isolated "$@"
fi
exec "$@"
