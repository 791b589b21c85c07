#!/usr/bin/env bash
# Builds the Debian package build/talvino_<version>_<arch>.deb: configures build-package
# (optimised, no tests, installed under /usr), builds it and runs CPack's DEB generator, which
# finds the shared libraries' packages with dpkg-shlibdeps. Prints the package's path.
# build-package sits beside build/, at the same depth, so that the compiler cache finds the
# test build's objects under the same relative paths.
# Install it with: apt install ./build/talvino_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh >&2
scripts/install-package-deps.sh >&2
source scripts/compiler-cache.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVINO_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr "$@" >&2
cmake --build build-package --target talvino talvino_icons talvino_changelog >&2
mkdir -p build
rm -f build/talvino_*.deb
(top=$PWD; cd build-package && cpack -G DEB -B "$top/build" >&2)
rm -rf build/_CPack_Packages
ls build/talvino_*.deb
