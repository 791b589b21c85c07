#!/usr/bin/env bash
# Installs, by Debian package name, what scripts/bench.sh needs beside the build's packages:
# the X server and window manager the LAN benchmarks' windows run on, the session and
# accessibility buses, the tools that make namespaces, veth pairs and the tmpfs, and socat, the
# loopback TCP pipe of the file-set benchmark's tar baseline.
# Safe to run again.
set -euo pipefail

PACKAGES=(
  xvfb openbox x11-utils
  dbus-daemon dbus-bin at-spi2-core
  iproute2 util-linux mount iptables
  socat
)

"$(dirname "$0")/apt-install.sh" "${PACKAGES[@]}"
