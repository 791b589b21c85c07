#!/usr/bin/env bash
# Installs, by Debian package name, what the fuzz targets need beyond the build's own packages:
# clang++ with its sanitizer and libFuzzer runtimes. Kept apart from install-deps.sh because
# neither the messenger nor its tests need them. Safe to run again; runs as root, or through
# sudo when it is available.
set -euo pipefail

PACKAGES=(clang libclang-rt-14-dev)

installed=$(dpkg-query -W -f='${Status}\n' "${PACKAGES[@]}" 2>/dev/null | grep -c "install ok installed" || true)
[ "$installed" -eq ${#PACKAGES[@]} ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}"
