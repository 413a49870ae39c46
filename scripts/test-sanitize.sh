#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs it. Any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Compiler results are cached by content, whichever folder the clone is in.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
BUILD="${ZELVANO_ASAN_BUILD_DIR:-build-asan}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Debug -DZELVANO_SANITIZE=ON \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$BUILD" -j2
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Leaks inside the system's font and graphics libraries are not ours.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 600
