#!/usr/bin/env bash
# Pictures of the four windows into docs/, taken on a virtual screen (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD="${ZELVANO_BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target windows_qt_test
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$BUILD/tests/windows/windows_qt_test" --screenshots docs
