#!/usr/bin/env bash
# Pictures of the four windows into docs/ (main-window.png, call-window.png,
# settings-window.png, about-window.png), taken on a virtual screen (Xvfb)
# from the real windows over the core with a fake serial line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD="${ZELVANO_BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target zelvano-screenshots
mkdir -p docs
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$BUILD/tests/windows/zelvano-screenshots" docs
