#!/usr/bin/env bash
# Long soak of the protocol engine and call buffer against a randomized slave:
# 10 million ticks (about eleven and a half days of line time) by default.
#   scripts/soak.sh [ticks] [seed]
# Uses the build directory $ZELVANO_BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${ZELVANO_BUILD_DIR:-build}"
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target test_core >/dev/null
ZELVANO_SOAK_TICKS="${1:-10000000}" ZELVANO_SOAK_SEED="${2:-4444}" \
  "$BUILD/tests/test_core" --gtest_filter='Soak.*' --gtest_brief=1
