#!/usr/bin/env bash
# Installs, by Debian package name, everything the build, the program and the tests need.
# Safe to run again. Runs as root, or through sudo when it is available.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins
  libqt6multimedia6 libqt6multimediawidgets6
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-alsa gstreamer1.0-libav
  libssl-dev libsodium-dev libsqlite3-dev
  libgtest-dev libgmock-dev googletest
  fonts-wqy-microhei qt6-translations-l10n
  librsvg2-bin
  iproute2 util-linux iptables
  xvfb xauth x11-utils xdotool openbox trayer dunst dbus-bin imagemagick
  dbus-daemon at-spi2-core
)

"$(dirname "$0")/apt-install.sh" "${PACKAGES[@]}"
