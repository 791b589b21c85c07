#!/usr/bin/env bash
# Installs, by Debian package name, what the fuzz targets need beyond the build's own packages:
# clang++ with its sanitizer and libFuzzer runtimes. Kept apart from install-deps.sh because
# neither the messenger nor its tests need them. Safe to run again; runs as root, or through
# sudo when it is available.
set -euo pipefail

PACKAGES=(clang libclang-rt-14-dev)

"$(dirname "$0")/apt-install.sh" "${PACKAGES[@]}"
