#!/usr/bin/env sh
# Usage: needs-no-qt-network.sh PROGRAM
# Passes when PROGRAM uses nothing of Qt Network: the library is not among those it needs, or
# it is (a linker that keeps every library named, such as Qt Multimedia's link interface
# names it) but the loader binds none of PROGRAM's symbols to it.
set -eu
needed=$(readelf -d "$1")
echo "$needed" | grep -q NEEDED
if ! echo "$needed" | grep -q 'libQt6Network'; then
  exit 0
fi
ldd -u -r "$1" | grep -q 'libQt6Network'
