#!/usr/bin/env bash
# Fails when clang-format (with the project's .clang-format) would change any
# C++ file the repository tracks, tests included. --fix rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: run 'bash scripts/check-format.sh --fix'" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
