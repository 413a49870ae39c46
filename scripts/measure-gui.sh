#!/usr/bin/env bash
# Measures the running program on a virtual screen (Xvfb), attached to
# espa-slave on a pseudo-terminal with a line check running:
#   - start-up to window shown (launch until the main window is mapped),
#   - idle CPU over 30 s (per cent of one core),
#   - resident memory after the idle period.
# Targets: under 0.3 s, under 0.3 %, under 45 MB.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD="${ZELVANO_BUILD_DIR:-$ROOT/build}"
IDLE_SECONDS="${IDLE_SECONDS:-30}"

if [ -z "${MEASURE_INSIDE_XVFB:-}" ]; then
    bash scripts/setup.sh
    cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD" -j2 --target zelvano espa-slave
    exec env MEASURE_INSIDE_XVFB=1 ZELVANO_BUILD_DIR="$BUILD" \
        xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash "$0"
fi

WORK="$(mktemp -d)"
cleanup() {
    [ -n "${APP:-}" ] && kill "$APP" 2>/dev/null || true
    [ -n "${SLAVE:-}" ] && kill "$SLAVE" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

cp "$BUILD/zelvano" "$WORK/zelvano"
printf '%s\r\n' "0        Compoort ->0" "10       Emulatie ->1" "11       BaudRate ->4" \
    "12       Parity ->0" "13       Bits ->1" "14       StopBits ->0" "15       HandShake ->0" \
    "16       LineCheck ->0" "17       CallStatusCheck ->0" "20       Logfile ->2" \
    "21       CheckInterval ->19" "30       EspaSet ->0" "31       EspaSet ->0" \
    "32       EspaSet ->0" "33       EspaSet ->0" "34       EspaSet ->0" "35       EspaSet ->0" \
    "40       EspaEnable ->0" >"$WORK/espa.set"
"$BUILD/tools/espa-slave/espa-slave" --link "$WORK/pty" --pty-file "$WORK/ready" --quiet \
    >/dev/null 2>&1 &
SLAVE=$!
for _ in $(seq 1 100); do [ -s "$WORK/ready" ] && break; sleep 0.1; done
echo "COM1=$WORK/pty" >"$WORK/comports.cfg"

# Start-up: from launch until a window named Zelvano is mapped on the screen.
start=$(date +%s.%N)
"$WORK/zelvano" >/dev/null 2>&1 &
APP=$!
shown=""
for _ in $(seq 1 1000); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Zelvano'; then
        shown=$(date +%s.%N)
        break
    fi
    sleep 0.005
done
[ -n "$shown" ] || { echo "the main window never appeared" >&2; exit 1; }
startup=$(awk -v a="$start" -v b="$shown" 'BEGIN {print b - a}')

sleep 2  # let start-up work settle before measuring idle
ticks() { awk '{print $14 + $15}' "/proc/$APP/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$IDLE_SECONDS"
t1=$(ticks)
cpu=$(awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$IDLE_SECONDS" 'BEGIN {print (b - a) * 100 / hz / s}')
rss_kb=$(awk '/^VmRSS/ {print $2}' "/proc/$APP/status")

printf 'start-up to window shown: %.3f s   (target < 0.3 s)\n' "$startup"
printf 'idle CPU over %d s:       %.3f %%  (target < 0.3 %% of one core)\n' "$IDLE_SECONDS" "$cpu"
printf 'resident memory:          %.1f MB  (target < 45 MB)\n' "$(awk -v k="$rss_kb" 'BEGIN {print k / 1024}')"
