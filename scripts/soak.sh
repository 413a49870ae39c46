#!/usr/bin/env bash
# Long soak of the protocol engine and call buffer against a randomized slave:
# 10 million ticks (about eleven and a half days of line time) by default.
#   scripts/soak.sh [ticks] [seed]
# Uses the build directory $ZELVANO_BUILD_DIR (default build) and builds only
# the soak test there.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${ZELVANO_BUILD_DIR:-build}"
TICKS="${1:-10000000}"
SEED="${2:-4444}"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target test_espa_soak >/dev/null
ZELVANO_SOAK_TICKS="$TICKS" ZELVANO_SOAK_SEED="$SEED" \
  "$BUILD/tests/espa/test_espa_soak" --gtest_brief=1
