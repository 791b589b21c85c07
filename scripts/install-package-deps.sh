#!/usr/bin/env bash
# Installs, by Debian package name, what building and checking the Debian package needs beyond
# the build's own packages: the package checkers (desktop entry, AppStream metainfo, lintian)
# and, for scripts/test-package.sh, debootstrap with Xvfb and xdotool. Kept apart from
# install-deps.sh because neither the messenger nor its tests need them. Safe to run again;
# runs as root, or through sudo when it is available.
set -euo pipefail

PACKAGES=(dpkg-dev file desktop-file-utils appstream lintian debootstrap xvfb xauth xdotool)

"$(dirname "$0")/apt-install.sh" "${PACKAGES[@]}"
