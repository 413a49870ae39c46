#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Compiler results are cached by content, whichever folder the clone is in.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
BUILD="${ZELVANO_BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$BUILD" -j2
export QT_QPA_PLATFORM=offscreen
# Among them windows_qt_test_xcb: the window tests again on a real X server
# (xvfb-run -a, the xcb platform); it is skipped, with a message, when no X
# server can be started.
ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 300
# The Debian package made from this build, unpacked and run as installed.
timeout 600 bash scripts/test-package.sh "$BUILD"
