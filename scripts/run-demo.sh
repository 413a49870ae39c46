#!/usr/bin/env bash
# Runs Zelvano attached to the bundled paging-system simulator (espa-slave) on
# a pseudo-terminal, so a call can be paged without any hardware.
#
# Installs what is missing, builds into ./build, prepares ./demo (the program,
# its espa.set at log level 2 and comports.cfg pointing COM1 at the
# simulator), starts the simulator, then Zelvano. The simulator stops when
# Zelvano ends. Open "Call", press "Call": the row goes NEW -> QUEUE -> PAGED.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run-demo: no display (DISPLAY is not set); Zelvano is a desktop program." >&2
    echo "  On a desktop session run it from a terminal there, or try it on a" >&2
    echo "  virtual screen (nothing to see, but it runs):" >&2
    echo "      xvfb-run -a bash scripts/run-demo.sh" >&2
    exit 2
fi

bash scripts/setup.sh
BUILD="${ZELVANO_BUILD_DIR:-$ROOT/build}"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j2 --target zelvano espa-slave

DEMO="${ZELVANO_DEMO_DIR:-$ROOT/demo}"
mkdir -p "$DEMO"
# The program reads espa.set and comports.cfg from its own directory.
cp "$BUILD/zelvano" "$DEMO/zelvano"

# Com1, Ascom/Nira, 9600,N,8,1, no handshake, line check 1 ENQ 2 ENQ,
# status check with SOH 3, log to file and screen, line check every 2000 ms.
printf '%s\r\n' \
    "0        Compoort ->0" \
    "10       Emulatie ->1" \
    "11       BaudRate ->4" \
    "12       Parity ->0" \
    "13       Bits ->1" \
    "14       StopBits ->0" \
    "15       HandShake ->0" \
    "16       LineCheck ->0" \
    "17       CallStatusCheck ->0" \
    "20       Logfile ->2" \
    "21       CheckInterval ->19" \
    "30       EspaSet ->0" \
    "31       EspaSet ->0" \
    "32       EspaSet ->0" \
    "33       EspaSet ->0" \
    "34       EspaSet ->0" \
    "35       EspaSet ->0" \
    "40       EspaEnable ->0" >"$DEMO/espa.set"

LINK="$DEMO/espa-slave.pty"
READY="$DEMO/espa-slave.ready"
rm -f "$READY"

# ZELVANO_DEMO_TCP=1: the simulator listens on a TCP port of this machine and
# COM1 is tcp://127.0.0.1:PORT, the way a serial device server is reached.
if [ -n "${ZELVANO_DEMO_TCP:-}" ]; then
    WHERE=(--listen 127.0.0.1:0)
else
    WHERE=(--link "$LINK")
fi
"$BUILD/tools/espa-slave/espa-slave" "${WHERE[@]}" --pty-file "$READY" --quiet \
    >"$DEMO/espa-slave.log" 2>&1 &
SLAVE=$!
stop_slave() {
    if kill -0 "$SLAVE" 2>/dev/null; then
        kill -TERM "$SLAVE" 2>/dev/null || true
        wait "$SLAVE" 2>/dev/null || true
    fi
}
trap stop_slave EXIT INT TERM

for _ in $(seq 1 100); do
    [ -s "$READY" ] && break
    if ! kill -0 "$SLAVE" 2>/dev/null; then
        echo "run-demo: espa-slave did not start:" >&2
        cat "$DEMO/espa-slave.log" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -s "$READY" ]; then
    echo "run-demo: espa-slave did not report its port in time" >&2
    exit 1
fi

if [ -n "${ZELVANO_DEMO_TCP:-}" ]; then
    echo "COM1=tcp://$(cat "$READY")" >"$DEMO/comports.cfg"
else
    echo "COM1=$LINK" >"$DEMO/comports.cfg"
fi
echo "espa-slave runs on $(cat "$READY") (COM1 of the demo; its log: demo/espa-slave.log)."
echo "Starting Zelvano from $DEMO. Menu \"Call\", then \"Call\": the call goes NEW -> QUEUE -> PAGED."
"$DEMO/zelvano"
