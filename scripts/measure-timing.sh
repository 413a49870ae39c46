#!/usr/bin/env bash
# Measures Zelvano's timing and resource figures and prints them against
# their targets:
#   - the 100 ms tick (TmrAfhandel of the real main window, watched from
#     outside by zelvano-timing): period and jitter, idle and with one core
#     kept busy by a `yes` process;
#   - Call -> "PAGED" wall time against the fewest ticks the protocol needs;
#   - start-up, idle CPU and resident memory (scripts/measure-gui.sh);
#   - the heaviest tick at log level 3 with the line busy at 57600 bit/s
#     (zelvano-timing trace: step 200 draining 576 bytes, each traced).
# The main window runs on a virtual screen (Xvfb) against espa-slave on a
# pseudo-terminal. The load average is noted with every figure: other work
# on the machine pollutes timing, so rerun on a quiet machine.
# Settings: TICK_SECONDS (120), PAGED_CALLS (10), IDLE_SECONDS (60),
# ZELVANO_PERF_BUILD_DIR (build-perf).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD="${ZELVANO_PERF_BUILD_DIR:-$ROOT/build-perf}"
TICK_SECONDS="${TICK_SECONDS:-120}"
PAGED_CALLS="${PAGED_CALLS:-10}"
IDLE_SECONDS="${IDLE_SECONDS:-60}"
XVFB_ARGS=(-a -s "-screen 0 1280x1024x24 -dpi 96")

load() { cut -d' ' -f1 /proc/loadavg; }

# --- inside Xvfb: the main window's tick against espa-slave ------------------
if [ "${1:-}" = "--window-runs" ]; then
    OUT="$2"
    WORK="$(mktemp -d)"
    SLAVE="" BUSY=""
    cleanup() {
        [ -n "$BUSY" ] && kill "$BUSY" 2>/dev/null || true
        [ -n "$SLAVE" ] && kill "$SLAVE" 2>/dev/null || true
        wait 2>/dev/null || true
        rm -rf "$WORK"
    }
    trap cleanup EXIT
    # Com1 at 9600,N,8,1, Ascom/Nira, line check 1 ENQ 2 ENQ, status call and
    # request, log to file and screen, line check every 19 ticks.
    printf '%s\r\n' "0        Compoort ->0" "10       Emulatie ->1" "11       BaudRate ->4" \
        "12       Parity ->0" "13       Bits ->1" "14       StopBits ->0" "15       HandShake ->0" \
        "16       LineCheck ->0" "17       CallStatusCheck ->0" "20       Logfile ->2" \
        "21       CheckInterval ->19" "30       EspaSet ->0" "31       EspaSet ->0" \
        "32       EspaSet ->0" "33       EspaSet ->0" "34       EspaSet ->0" "35       EspaSet ->0" \
        "40       EspaEnable ->0" >"$WORK/espa.set"
    "$BUILD/tools/espa-slave/espa-slave" --pty-file "$WORK/ready" --quiet --script DEFAULT=PAGED \
        >"$WORK/slave.log" 2>&1 &
    SLAVE=$!
    for _ in $(seq 1 100); do [ -s "$WORK/ready" ] && break; sleep 0.1; done
    [ -s "$WORK/ready" ] || { echo "espa-slave did not start" >&2; exit 1; }
    echo "COM1=$(head -n1 "$WORK/ready")" >"$WORK/comports.cfg"
    probe() {  # mode amount label
        local before
        before=$(load)
        "$BUILD/tests/perf/zelvano-timing" "$WORK" "$@" >"$OUT/$1-$3.txt" 2>"$OUT/$1-$3.err" || {
            echo "zelvano-timing $* failed:" >&2
            cat "$OUT/$1-$3.err" >&2
            exit 1
        }
        echo "load=$before-$(load)" >>"$OUT/$1-$3.txt"
    }
    # A bare sleeping loop beside each tick run, over the same seconds: what
    # the machine delivers without Qt or the window.
    ticks() {  # label
        (sleep 3 && exec "$BUILD/tests/perf/zelvano-timing" - sleep "$TICK_SECONDS" "$1" \
            >"$OUT/sleep-$1.txt") &
        local baseline=$!
        probe ticks "$TICK_SECONDS" "$1"
        wait "$baseline"
    }
    ticks idle
    probe paged "$PAGED_CALLS" idle
    yes >/dev/null &
    BUSY=$!
    ticks loaded
    probe paged "$PAGED_CALLS" loaded
    exit 0
fi

# --- outside: build, run everything, print the table ------------------------
bash scripts/setup.sh
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target zelvano espa-slave zelvano-timing >/dev/null

OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT

echo "== start-up, idle CPU, memory (scripts/measure-gui.sh, ${IDLE_SECONDS} s idle)"
gui_load=$(load)
ZELVANO_BUILD_DIR="$BUILD" IDLE_SECONDS="$IDLE_SECONDS" bash scripts/measure-gui.sh \
    | tee "$OUT/gui.txt" || true  # a missed guard shows in the table
gui_load="$gui_load-$(load)"

echo "== main window tick and Call -> PAGED (${TICK_SECONDS} s per tick run, ${PAGED_CALLS} calls)"
xvfb-run "${XVFB_ARGS[@]}" bash "$0" --window-runs "$OUT"
cat "$OUT"/ticks-*.txt "$OUT"/sleep-*.txt "$OUT"/paged-*.txt
grep -h '^call' "$OUT"/paged-*.err || true

echo "== the busiest tick (zelvano-timing trace)"
bench_load=$(load)
"$BUILD/tests/perf/zelvano-timing" - trace 300 busy >"$OUT/trace.txt"
bench_load="$bench_load-$(load)"

# value KEY FILE: the number after KEY= in a key=value line.
value() { grep -o "$2=[^ ]*" "$1" | head -n1 | cut -d= -f2; }
# gui KEY: the first number after the colon on measure-gui.sh's line KEY.
gui() { grep "^$1" "$OUT/gui.txt" | cut -d: -f2 | grep -o '[0-9][0-9.]*' | head -n1; }
# row FIGURE TARGET MEASURED UNIT OP LIMIT LOAD
row() {
    local met
    met=$(awk -v m="$3" -v op="$5" -v l="$6" 'BEGIN {
        if (m == "") { print "n/a"; exit }
        ok = (op == "<") ? (m + 0 < l + 0) : (op == "<=") ? (m + 0 <= l + 0) : (m + 0 >= l + 0)
        print ok ? "yes" : "NO" }')
    printf '| %-44s | %-12s | %12s %-6s | %-4s | %-11s |\n' "$1" "$2" "$3" "$4" "$met" "$7"
}

ti="$OUT/ticks-idle.txt" tl="$OUT/ticks-loaded.txt"
si="$OUT/sleep-idle.txt" sl="$OUT/sleep-loaded.txt"
pi="$OUT/paged-idle.txt" pl="$OUT/paged-loaded.txt"
echo
echo "== figures (load = 1-minute load average before-after, 2 cores)"
printf '| %-44s | %-12s | %19s | %-4s | %-11s |\n' figure target measured met load
echo "|----------------------------------------------|--------------|---------------------|------|-------------|"
row "tick interval median, idle" "(100 ms)" "$(value "$ti" interval_median_ms)" ms ">=" 0 "$(value "$ti" load)"
row "tick p99 off 100 ms, idle" "<= 2 ms" "$(value "$ti" dev_p99_ms)" ms "<=" 2 "$(value "$ti" load)"
row "tick max off 100 ms, idle" "-" "$(value "$ti" dev_max_ms)" ms ">=" 0 "$(value "$ti" load)"
row "tick interval median, one core busy" "(100 ms)" "$(value "$tl" interval_median_ms)" ms ">=" 0 "$(value "$tl" load)"
row "tick p99 off 100 ms, one core busy" "<= 10 ms" "$(value "$tl" dev_p99_ms)" ms "<=" 10 "$(value "$tl" load)"
row "tick max off 100 ms, one core busy" "-" "$(value "$tl" dev_max_ms)" ms ">=" 0 "$(value "$tl" load)"
row "bare sleep loop p99 off 100 ms, idle" "(machine)" "$(value "$si" dev_p99_ms)" ms ">=" 0 "$(value "$ti" load)"
row "bare sleep loop p99 off 100 ms, core busy" "(machine)" "$(value "$sl" dev_p99_ms)" ms ">=" 0 "$(value "$tl" load)"
row "Call->PAGED / protocol minimum, worst, idle" "<= 1.05" "$(value "$pi" ratio_max)" "" "<=" 1.05 "$(value "$pi" load)"
row "Call->PAGED / protocol minimum, worst, busy" "<= 1.05" "$(value "$pl" ratio_max)" "" "<=" 1.05 "$(value "$pl" load)"
row "Call->PAGED wall time median, idle" "-" "$(value "$pi" wall_median_ms)" ms ">=" 0 "$(value "$pi" load)"
row "idle CPU / bare Qt floor, median" "<= 3.5x" "$(gui 'idle CPU against')" "x" "<=" 3.5 "$gui_load"
row "resident memory" "< 45 MB" "$(gui 'resident memory')" MB "<" 45 "$gui_load"
row "start-up to window shown" "< 300 ms" "$(awk -v s="$(gui 'start-up')" 'BEGIN {print s * 1000}')" ms "<" 300 "$gui_load"
for line in fake qt; do
    for level in 2 3; do
        grep "line=$line level=$level " "$OUT/trace.txt" >"$OUT/trace-$line-$level.txt"
        target="-" limit=0 op=">="
        [ "$level" = 3 ] && target="< 5 ms" limit=5 op="<"
        for stat in median p99 max; do
            shown="-" && [ "$stat" = p99 ] && shown="$target"
            row "busy tick, 576 bytes, level $level, $line, $stat" "$shown" \
                "$(value "$OUT/trace-$line-$level.txt" "tick_${stat}_ms")" ms "$op" "$limit" "$bench_load"
        done
    done
done
