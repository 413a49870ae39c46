#!/usr/bin/env bash
# Runs the fault matrix and prints one table row per fault: name, PASS, FAIL
# or SKIP, and the evidence the case collected. Each case is the real main
# window over the real QSerialPort adapter against espa-slave in its own
# process, its engine ticked by hand (about half a minute in all).
#
#   scripts/fault-matrix.sh              all faults
#   scripts/fault-matrix.sh CASE...      only these (names as in the table)
#
# The read-only directory and full-disk cases mount (a read-only bind, a small
# tmpfs) and so need root; without it they fall back or are skipped, and the
# table says so. Full output of each case: $BUILD/fault-matrix/CASE.log.
# Exit status 0 when no case failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD="${ZELVANO_BUILD_DIR:-build}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$BUILD" -j2 --target test_e2e espa-slave >/dev/null || {
  echo "build failed" >&2
  exit 1
}
export QT_QPA_PLATFORM=offscreen
PROGRAM="$BUILD/tests/e2e/test_e2e"
LOGS="$BUILD/fault-matrix"
mkdir -p "$LOGS"

ALL=(
  "slaveSilent|1 slave silent"
  "nakEveryBlock|2 NAK on every block"
  "randomNoise|3 random noise"
  "wrongCheckCharacters|4 wrong check characters"
  "splitStatusBlocks|5 status blocks split over ticks"
  "slaveVanishesMidBlock|6 slave vanishes mid-block"
  "deviceMissingThenSave|7 device missing, then Save"
  "deviceInUse|8 device in use"
  "readOnlyProgramDir|9 read-only program directory"
  "fullDiskForLogs|10 full disk for the log files"
  "killDuringSave|11 kill -9 during Save"
)

# wanted NAME [CHOSEN...]: true when no case was chosen or NAME is one of them.
wanted() {
  local name="$1"
  shift
  [ "$#" -eq 0 ] && return 0
  for w in "$@"; do [ "$w" = "$name" ] && return 0; done
  return 1
}

rows=()
failed=0
for entry in "${ALL[@]}"; do
  name="${entry%%|*}"
  title="${entry#*|}"
  wanted "$name" "$@" || continue
  start=$(date +%s)
  timeout 180 "$PROGRAM" --gtest_filter="Faults.$name" >"$LOGS/$name.log" 2>&1
  rc=$?
  seconds=$(($(date +%s) - start))
  evidence=$(grep '^EVIDENCE: ' "$LOGS/$name.log" | sed 's/^EVIDENCE: //' | paste -sd'|' - | sed 's/|/; /g')
  if grep -q "^\[  SKIPPED \] Faults\." "$LOGS/$name.log"; then
    result=SKIP
    evidence=$(grep -A1 ': Skipped$' "$LOGS/$name.log" | tail -1)
  elif [ "$rc" -eq 0 ] && grep -q "^\[       OK \] Faults.$name" "$LOGS/$name.log"; then
    result=PASS
  else
    result=FAIL
    failed=$((failed + 1))
    if [ "$rc" -eq 124 ]; then
      why="hung (killed after 180 s)"
    elif [ "$rc" -gt 128 ]; then
      why="crashed (signal $((rc - 128)))"
    else
      why=$(grep -A3 ': Failure$' "$LOGS/$name.log" | head -8 | tr -s ' ' | paste -sd' ' -)
    fi
    evidence="$why${evidence:+; $evidence}"
  fi
  rows+=("| $title | $result | ${seconds} s | $evidence |")
  echo "$title: $result (${seconds} s)" >&2
done

echo
echo "| Fault | Result | Time | Evidence |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "Logs: $LOGS"
[ "$failed" -eq 0 ]
