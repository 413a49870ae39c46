#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a number of
# executions: scripts/fuzz.sh [runs-per-target] [target...]
# New findings land in tests/fuzz/regressions/<target>/ (crash-*, leak-*...).
# FUZZ_JOBS processes per target share one corpus; FUZZ_MAX_LEN caps inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
RUNS="${1:-1000000}"
shift || true
TARGETS=("${@:-settings engine_rx espa_data portmap}")
read -ra TARGETS <<< "${TARGETS[*]}"
BUILD=build-fuzz JOBS="${FUZZ_JOBS:-1}"
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELVANO_FUZZ=ON >/dev/null
cmake --build "$BUILD" -j2 --target $(printf 'fuzz_%s ' "${TARGETS[@]}")
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD/corpus-$t" "tests/fuzz/regressions/$t"
  start=$(date +%s) failed=0 pids=()
  for j in $(seq 1 "$JOBS"); do
    "$BUILD/tests/fuzz/fuzz_$t" -runs=$((RUNS / JOBS)) -max_len="${FUZZ_MAX_LEN:-1024}" \
      -print_final_stats=1 -seed="$j" -artifact_prefix="tests/fuzz/regressions/$t/" \
      "$BUILD/corpus-$t" "tests/fuzz/corpus/$t" 2> "$BUILD/fuzz-$t-$j.log" &
    pids+=($!)
  done
  for p in "${pids[@]}"; do wait "$p" || failed=1; done
  logs=("$BUILD"/fuzz-"$t"-*.log)
  if [ "$failed" -ne 0 ]; then
    echo "fuzz_$t: FINDING, see ${logs[*]} and tests/fuzz/regressions/$t/"; tail -30 "${logs[@]}"; exit 1
  fi
  execs=$(grep -ho 'number_of_executed_units: *[0-9]*' "${logs[@]}" | awk '{s += $2} END {print s}')
  cov=$(grep -ho 'cov: [0-9]*' "${logs[@]}" | sort -t' ' -k2 -n | tail -1)
  echo "fuzz_$t: $execs executions in $(($(date +%s) - start)) s ($JOBS process(es)), $cov, no finding"
done
