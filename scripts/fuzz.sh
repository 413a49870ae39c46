#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a number of
# executions: scripts/fuzz.sh [runs-per-target] [target...]
# New findings land in tests/fuzz/regressions/<target>/ (crash-*, leak-*...).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
RUNS="${1:-1000000}"
shift || true
TARGETS=("$@")
if [ "${#TARGETS[@]}" -eq 0 ]; then TARGETS=(settings engine_rx espa_data portmap); fi
BUILD=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVANO_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j2 --target $(printf 'fuzz_%s ' "${TARGETS[@]}")
JOBS="${FUZZ_JOBS:-1}"  # parallel fuzzing processes per target, sharing one corpus
for t in "${TARGETS[@]}"; do
  work="$BUILD/corpus-$t"
  mkdir -p "$work" "tests/fuzz/regressions/$t"
  start=$(date +%s)
  pids=()
  for j in $(seq 1 "$JOBS"); do
    "$BUILD/tests/fuzz/fuzz_$t" -runs=$((RUNS / JOBS)) -max_len="${FUZZ_MAX_LEN:-1024}" \
      -print_final_stats=1 -seed="$j" -artifact_prefix="tests/fuzz/regressions/$t/" \
      "$work" "tests/fuzz/corpus/$t" 2> "$BUILD/fuzz-$t-$j.log" &
    pids+=($!)
  done
  failed=0
  for p in "${pids[@]}"; do wait "$p" || failed=1; done
  end=$(date +%s)
  if [ "$failed" -ne 0 ]; then
    echo "fuzz_$t: FINDING, see $BUILD/fuzz-$t-*.log and tests/fuzz/regressions/$t/"
    tail -30 "$BUILD"/fuzz-"$t"-*.log
    exit 1
  fi
  execs=$(cat "$BUILD"/fuzz-"$t"-*.log | grep -o 'stat::number_of_executed_units: *[0-9]*' \
    | grep -o '[0-9]*$' | awk '{s += $1} END {print s}')
  cov=$(cat "$BUILD"/fuzz-"$t"-*.log | grep -o 'cov: [0-9]*' | sort -t' ' -k2 -n | tail -1)
  echo "fuzz_$t: ${execs} executions in $((end - start)) s ($JOBS process(es)), $cov, no finding"
done
