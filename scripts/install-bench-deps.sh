#!/usr/bin/env bash
# Installs, by Debian package name, what scripts/bench.sh needs beside the build's packages:
# the X server and window manager the LAN benchmarks' windows run on, the session and
# accessibility buses, and the tools that make namespaces, veth pairs and the tmpfs.
# Safe to run again.
set -euo pipefail

PACKAGES=(
  xvfb openbox x11-utils
  dbus-daemon dbus-bin at-spi2-core
  iproute2 util-linux mount iptables
)

"$(dirname "$0")/apt-install.sh" "${PACKAGES[@]}"
