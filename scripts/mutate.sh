#!/usr/bin/env bash
# Injects each fault of scripts/mutants.txt (or FILE) into a scratch copy of REV,
# rebuilds, runs ctest and reports whether the suite caught it.
#   bash scripts/mutate.sh [REV] [FILE] [LABEL-REGEX]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
rev=$(git -C "$top" rev-parse --verify "${1:-HEAD}^{commit}")
list=$(realpath "${2:-$top/scripts/mutants.txt}")
only=${3:-.}
work=${MUTATE_DIR:-/tmp/zelvano-mutate-${rev:0:7}}
mkdir -p "$work/src"
git -C "$top" archive "$rev" | tar -x -C "$work/src"
cd "$work/src"
linker=(); command -v ld.gold >/dev/null && linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold)
cmake -S . -B ../build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${linker[@]}" >/dev/null
cmake --build ../build -j2 >/dev/null
export QT_QPA_PLATFORM=offscreen
# Faults are only worth counting against a suite that passes without them.
ctest --test-dir ../build -j2 --timeout 120 >../unmutated.log 2>&1 || {
  echo "the suite fails without any fault: see $work/unmutated.log"; exit 1; }
caught=0; missed=0; broken=0
while IFS=$'\t' read -r label file text repl; do
  [[ -z "$label" || "$label" == \#* || ! "$label" =~ $only ]] && continue
  cp "$file" "$file.orig"
  if ! python3 - "$file" "$text" "$repl" <<'PY'
import sys
path, old, new = sys.argv[1], sys.argv[2].replace('⏎', '\n'), sys.argv[3].replace('⏎', '\n')
src = open(path).read()
if src.count(old) != 1:
    sys.exit(f"{path}: text found {src.count(old)} times")
open(path, 'w').write(src.replace(old, new))
PY
  then result=unapplied; broken=$((broken + 1))
  elif ! cmake --build ../build -j2 >/dev/null 2>&1; then result=unbuilt; broken=$((broken + 1))
  else
    rm -f ../build/Testing/Temporary/CTestCostData.txt
    start=$SECONDS
    if ctest --test-dir ../build -j2 --timeout 120 --stop-on-failure >"../$label.log" 2>&1; then
      result=MISSED; missed=$((missed + 1))
    else
      result=caught; caught=$((caught + 1))
    fi
    result="$result ($((SECONDS - start)) s) $(grep -m1 -oE '[0-9]+ - [^ ]+ \((Failed|Timeout|SEGFAULT|Subprocess aborted)' "../$label.log" || true)"
  fi
  mv "$file.orig" "$file"
  touch "$file"
  printf '%-28s %s\n' "$label" "$result"
done <"$list"
cmake --build ../build -j2 >/dev/null
echo "caught $caught, missed $missed, not applied or not built $broken"
