#!/usr/bin/env bash
# Builds the Debian package zelvano_<version>_<arch>.deb from an optimised build
# of the program and the simulator (no tests), in build-package/ (or
# ZELVANO_PACKAGE_BUILD_DIR), then checks it with scripts/test-package.sh.
# Install it with: sudo apt install ./build-package/package/zelvano_*.deb
# -O2 as Debian builds its packages; the debug information is stripped when
# packing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD="${ZELVANO_PACKAGE_BUILD_DIR:-build-package}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DZELVANO_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2
if [ "${ZELVANO_PACKAGE_CHECK:-1}" = 1 ]; then
    bash scripts/test-package.sh "$BUILD"
else
    (cd "$BUILD" && cpack -G DEB)
fi
ls -1 "$(cd "$BUILD" && pwd)"/package/zelvano*_*.deb
