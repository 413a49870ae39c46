#!/usr/bin/env bash
# Checks the Debian packages made from a build folder (default: build):
#   1. cpack makes zelvano_<version>_<arch>.deb and zelvanod_<version>_<arch>.deb;
#   2. their control data declares the Qt 6 runtime packages, and for the
#      service what makes its user;
#   3. they hold exactly the expected files;
#   4. lintian finds no error; the desktop entry validates;
#   5. zelvano-call is installed without Qt Widgets or Gui and its --help runs;
#      so is zelvanod; the service's units verify and score as sandboxed, its
#      sample configuration is a conffile naming no line, postinst makes the
#      user (through the packaged sysusers.d file) and starts nothing;
#   6. the package unpacked into a scratch root runs the way an installed
#      program runs: as an ordinary user who cannot write into the program's
#      folder, under Xvfb, against the packaged espa-slave. Its settings are
#      saved through the settings window into ~/.local/share/zelvano, read
#      again after a restart, and the logs land there too. zelvano-call is
#      refused the port while the program holds it, then pages through it
#      with the same settings.
# Usage: scripts/test-package.sh [BUILD_DIR]   (the build must be complete)
set -euo pipefail
cd "$(dirname "$0")/.."
SOURCE="$PWD"
BUILD="$(cd "${1:-build}" && pwd)"
bash scripts/setup.sh

fail() {
    echo "test-package: FAIL: $*" >&2
    # What the screen showed, when it got that far.
    if [ -n "${DISPLAY_NAME:-}" ]; then
        import -display "$DISPLAY_NAME" -window root "$BUILD/package/failure.png" 2>/dev/null &&
            echo "test-package: screen at the failure: $BUILD/package/failure.png" >&2
    fi
    exit 1
}
step() { echo "test-package: $*"; }

# 1. The package.
rm -rf "$BUILD/package"
(cd "$BUILD" && cpack -G DEB >/dev/null)
VERSION="$(sed -n 's/^project(Zelvano VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")"
DEB="$BUILD/package/zelvano_${VERSION}_$(dpkg --print-architecture).deb"
SERVICE_DEB="$BUILD/package/zelvanod_${VERSION}_$(dpkg --print-architecture).deb"
for deb in "$DEB" "$SERVICE_DEB"; do
    [ -f "$deb" ] || fail "no package at $deb"
    step "built $(basename "$deb") ($(stat -c %s "$deb") bytes)"
done

# 2. Control data.
control="$(dpkg-deb --field "$DEB" Package Version Depends)"
for needed in "Package: zelvano" "Version: $VERSION" libqt6core6 libqt6gui6 libqt6widgets6 \
    libqt6serialport6 qt6-qpa-plugins; do
    grep -q "$needed" <<<"$control" || fail "control data lacks '$needed': $control"
done
control="$(dpkg-deb --field "$SERVICE_DEB" Package Version Depends)"
for needed in "Package: zelvanod" "Version: $VERSION" "systemd | systemd-standalone-sysusers"; do
    grep -q "$needed" <<<"$control" || fail "zelvanod's control data lacks '$needed': $control"
done

# 3. Contents: every file, nothing more.
expected="$(
    printf '%s\n' ./usr/bin/espa-slave ./usr/bin/zelvano ./usr/bin/zelvano-call \
        ./usr/share/applications/zelvano.desktop \
        ./usr/share/doc/zelvano/README.md ./usr/share/doc/zelvano/changelog.gz \
        ./usr/share/doc/zelvano/copyright \
        ./usr/share/icons/hicolor/scalable/apps/zelvano.svg \
        ./usr/share/man/man1/espa-slave.1.gz ./usr/share/man/man1/zelvano.1.gz \
        ./usr/share/man/man1/zelvano-call.1.gz
    for size in 16 32 48 64 128 256; do
        echo "./usr/share/icons/hicolor/${size}x${size}/apps/zelvano.png"
    done
    (cd "$SOURCE" && find docs -maxdepth 1 \( -name '*.md' -o -name '*.png' \) ! -name MQTT.md) |
        sed 's|^|./usr/share/doc/zelvano/|'
)"
actual="$(dpkg-deb --contents "$DEB" | awk '$1 ~ /^-/ {print $6}')"
if ! diff <(sort <<<"$expected") <(sort <<<"$actual"); then
    fail "package contents differ from the expected list (< expected, > packaged)"
fi
step "contents: $(wc -l <<<"$actual") files as expected"
expected="$(
    printf '%s\n' ./usr/sbin/zelvanod ./usr/share/man/man8/zelvanod.8.gz \
        ./lib/systemd/system/zelvanod.service ./lib/systemd/system/zelvanod@.service \
        ./usr/lib/sysusers.d/zelvanod.conf ./etc/zelvano/zelvanod.conf \
        ./usr/share/doc/zelvanod/copyright ./usr/share/doc/zelvanod/changelog.gz
    for doc in zelvanod-api.yaml zelvanod-security.txt MQTT.md node-red-zelvano.json; do
        [ ! -f "$SOURCE/docs/$doc" ] || echo "./usr/share/doc/zelvanod/$doc"
    done
)"
actual="$(dpkg-deb --contents "$SERVICE_DEB" | awk '$1 ~ /^-/ {print $6}')"
if ! diff <(sort <<<"$expected") <(sort <<<"$actual"); then
    fail "zelvanod's contents differ from the expected list (< expected, > packaged)"
fi
step "zelvanod's contents: $(wc -l <<<"$actual") files as expected"

# 4. lintian (errors fail; warnings and notes are shown) and the entry.
lintian_rc=0
lintian --fail-on error "$DEB" "$SERVICE_DEB" >"$BUILD/package/lintian.txt" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$BUILD/package/lintian.txt" || true
[ "$lintian_rc" -eq 0 ] || fail "lintian reports errors"
# The package's dependencies can be met here (a dry run of apt).
apt-get install -s "$DEB" "$SERVICE_DEB" >"$BUILD/package/apt-simulation.txt" 2>&1 ||
    fail "apt cannot install the package: $(tail -n5 "$BUILD/package/apt-simulation.txt")"

SCRATCH="$(mktemp -d /tmp/zelvano-package-XXXXXX)"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    chmod -R u+w "$SCRATCH" 2>/dev/null || true
    rm -rf "$SCRATCH"
}
forget_pid() {
    local kept=() pid
    for pid in "${PIDS[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
    PIDS=("${kept[@]}")
}
trap cleanup EXIT
chmod 755 "$SCRATCH"
ROOT="$SCRATCH/root"
dpkg-deb -x "$DEB" "$ROOT"
desktop-file-validate "$ROOT/usr/share/applications/zelvano.desktop" ||
    fail "desktop entry does not validate"
step "lintian and desktop-file-validate: no error"

# 5. The command-line sender runs without a display: no Widgets, no Gui.
if ldd "$ROOT/usr/bin/zelvano-call" | grep -E 'libQt6(Widgets|Gui)'; then
    fail "zelvano-call links Qt Widgets or Gui"
fi
help="$("$ROOT/usr/bin/zelvano-call" --help)" || fail "zelvano-call --help does not run"
grep -q '^EXIT STATUS' <<<"$help" || fail "zelvano-call --help lacks its exit statuses"
step "zelvano-call: --help runs, no Qt Widgets or Gui"

# 5b. The service's package, unpacked beside the program's.
SERVICE_ROOT="$SCRATCH/service-root"
dpkg-deb -x "$SERVICE_DEB" "$SERVICE_ROOT"
if ldd "$SERVICE_ROOT/usr/sbin/zelvanod" | grep -E 'libQt6(Widgets|Gui)'; then
    fail "zelvanod links Qt Widgets or Gui"
fi
dpkg-deb --ctrl-tarfile "$SERVICE_DEB" | tar -x -C "$SCRATCH" ./conffiles ./postinst
[ "$(cat "$SCRATCH/conffiles")" = /etc/zelvano/zelvanod.conf ] ||
    fail "the sample configuration is not the conffile: $(cat "$SCRATCH/conffiles")"
# A new installation names no line, and nothing enables or starts the service.
if grep -nE '^[[:space:]]*(port|settings)[[:space:]]*=' "$SERVICE_ROOT/etc/zelvano/zelvanod.conf"; then
    fail "the sample configuration names a line"
fi
grep -q '^ *systemd-sysusers zelvanod.conf$' "$SCRATCH/postinst" || fail "postinst makes no user"
if grep -nE 'enable|start|deb-systemd' "$SCRATCH/postinst" | grep -v '^[0-9]*: *#'; then
    fail "postinst enables or starts the service"
fi
# The units as systemd reads them (the binary at its unpacked place), and
# their sandbox: an exposure of 2.0 at most.
UNITS="$SCRATCH/units"
mkdir -p "$UNITS"
for unit in zelvanod.service zelvanod@.service; do
    sed "s|/usr/sbin/zelvanod|$SERVICE_ROOT/usr/sbin/zelvanod|" \
        "$SERVICE_ROOT/lib/systemd/system/$unit" >"$UNITS/${unit/@/@line1}"
done
verify="$(systemd-analyze verify --man=no "$UNITS/zelvanod.service" "$UNITS/zelvanod@line1.service" 2>&1)" ||
    fail "systemd-analyze verify fails: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify complains: $verify"
systemd-analyze security --offline=true --threshold=20 --root="$SERVICE_ROOT" zelvanod.service \
    zelvanod@line1.service >"$SCRATCH/security.txt" 2>&1 ||
    fail "the units' exposure is above 2.0: $(grep 'Overall' "$SCRATCH/security.txt")"
# The user postinst makes, made in a scratch copy of the system's user files.
if [ "$(id -u)" -eq 0 ]; then
    mkdir -p "$SCRATCH/users/etc"
    cp /etc/passwd /etc/group /etc/shadow /etc/gshadow "$SCRATCH/users/etc/"
    systemd-sysusers --root="$SCRATCH/users" "$SERVICE_ROOT/usr/lib/sysusers.d/zelvanod.conf" \
        >/dev/null 2>&1 || fail "systemd-sysusers refuses the packaged sysusers.d file"
    grep -q '^zelvano:.*:/var/lib/zelvanod:' "$SCRATCH/users/etc/passwd" &&
        grep -q '^dialout:.*zelvano' "$SCRATCH/users/etc/group" ||
        fail "no user zelvano in the group dialout"
fi
step "zelvanod: no Qt Widgets or Gui; units verify, $(grep -o 'exposure level.*' "$SCRATCH/security.txt" | tail -n1); conffile names no line; postinst starts nothing"

# 6. The unpacked program as an ordinary user. Root may write anywhere, so
# under root (CI) the programs run as nobody; otherwise the program's folder
# is made read-only. The program's folder carries a comports.cfg, as a
# preconfigured copy would, which the user's data folder takes over.
USER_HOME="$SCRATCH/home"
LINK="$SCRATCH/runtime/espa-slave.pty"
echo "COM1=$LINK" >"$ROOT/usr/bin/comports.cfg"
mkdir -p "$USER_HOME" "$SCRATCH/runtime"
chmod 700 "$SCRATCH/runtime"
AS_USER=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$USER_HOME" "$SCRATCH/runtime"
    AS_USER=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
else
    chmod a-w "$ROOT/usr/bin"
fi
DATA="$USER_HOME/.local/share/zelvano"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$SCRATCH/display" \
    2>"$SCRATCH/xvfb.log" &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$SCRATCH/display" ] && break; sleep 0.1; done
[ -s "$SCRATCH/display" ] || fail "Xvfb did not start: $(cat "$SCRATCH/xvfb.log")"
DISPLAY_NAME=":$(cat "$SCRATCH/display")"
export DISPLAY="$DISPLAY_NAME"
# Commands run as the user: env and setpriv exec the program, so $! of a
# command started in the background is the program itself.
AS_USER=(env -i PATH=/usr/bin:/bin HOME="$USER_HOME" XDG_RUNTIME_DIR="$SCRATCH/runtime"
    DISPLAY="$DISPLAY_NAME" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 "${AS_USER[@]}")

# The packaged simulator on a pseudo-terminal; COM1 points at it.
"${AS_USER[@]}" "$ROOT/usr/bin/espa-slave" --link "$LINK" --pty-file "$SCRATCH/runtime/ready" \
    --quiet >"$SCRATCH/espa-slave.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -e "$SCRATCH/runtime/ready" ] && break; sleep 0.1; done
[ -e "$LINK" ] || fail "espa-slave did not start: $(cat "$SCRATCH/espa-slave.log")"

MAIN_TITLE='^Zelvano - ESPA 4.4.4 Master$'
start_program() {
    "${AS_USER[@]}" "$ROOT/usr/bin/zelvano" >>"$SCRATCH/zelvano.log" 2>&1 &
    PROGRAM=$!
    PIDS+=("$PROGRAM")
    MAIN="$(timeout 20 xdotool search --sync --onlyvisible --name "$MAIN_TITLE" | head -n1)" ||
        fail "the main window did not appear: $(cat "$SCRATCH/zelvano.log")"
}
stop_program() {
    kill "$PROGRAM" 2>/dev/null || fail "the program had ended by itself: $(cat "$SCRATCH/zelvano.log")"
    wait "$PROGRAM" 2>/dev/null || true
    forget_pid "$PROGRAM"
    for _ in $(seq 50); do
        xdotool search --name "$MAIN_TITLE" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "a main window is still open after the program ended"
}
# Clicks a point of a window given in twips, the unit of the window layout,
# scaled by the window's width in twips against its width in pixels.
click_twips() {
    local window="$1" widthTwips="$2" x="$3" y="$4" WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$window")"
    # Twips to pixels by the window's own scale (15 twips a pixel at 96 dpi).
    xdotool mousemove --window "$window" $((x * WIDTH / widthTwips)) $((y * WIDTH / widthTwips)) \
        click 1
    sleep 0.3
}

# First start: no espa.set anywhere; the window shows, nothing is written
# beside the program.
start_program
[ -f "$DATA/comports.cfg" ] || fail "the data folder $DATA did not take over comports.cfg"
xprop -id "$MAIN" WM_CLASS | grep -q '"zelvano"' ||
    fail "window class does not match the desktop entry: $(xprop -id "$MAIN" WM_CLASS)"
step "installed program started; window class zelvano"

# Settings -> Change -> log level "Extended Log to file & screen" -> Save.
# The menu bar's second entry, "Settings" (after "Call").
xdotool mousemove --window "$MAIN" 60 10 click 1
SETUP="$(timeout 10 xdotool search --sync --onlyvisible --name '^Setup$' | head -n1)" ||
    fail "the settings window did not open"
SETUP_TWIPS=11160
click_twips "$SETUP" $SETUP_TWIPS 9067 6187  # Change
click_twips "$SETUP" $SETUP_TWIPS 2167 2317  # the log level list
xdotool key Down Down
sleep 0.5
click_twips "$SETUP" $SETUP_TWIPS 7627 6787  # Save
for _ in $(seq 50); do [ -f "$DATA/espa.set" ] && break; sleep 0.1; done
[ -f "$DATA/espa.set" ] || fail "Save wrote no $DATA/espa.set"
grep -q "^20 *Logfile ->2"$'\r'"$" "$DATA/espa.set" ||
    fail "espa.set does not hold log level 2: $(cat -A "$DATA/espa.set")"
[ ! -e "$ROOT/usr/bin/espa.set" ] || fail "settings were written beside the installed program"
step "Save wrote $DATA/espa.set with log level 2"
stop_program

# Restart: the saved settings apply (log level 2 writes the day file; the
# first run's day file is gone, so any day file is the restarted program's)
# and the line check reaches the simulator.
rm -rf "$DATA/Log"
start_program
DAYFILE=""
for _ in $(seq 100); do
    DAYFILE="$(ls "$DATA"/Log/*.log 2>/dev/null | head -n1 || true)"
    [ -n "$DAYFILE" ] && grep -q "received -> OK!" "$DAYFILE" && break
    sleep 0.1
done
[ -n "$DAYFILE" ] || fail "no day file in $DATA/Log after the restart"
grep -q "received -> OK!" "$DAYFILE" || fail "no line check answered in $DAYFILE: $(cat "$DAYFILE")"
step "after the restart $DAYFILE holds the line check:"
head -n4 "$DAYFILE"
# Never two masters: the port the program holds is refused to zelvano-call.
call_rc=0
"${AS_USER[@]}" "$ROOT/usr/bin/zelvano-call" --address 6001 --timeout 5 >"$SCRATCH/call.out" \
    2>"$SCRATCH/call.err" || call_rc=$?
[ "$call_rc" -eq 74 ] && grep -q 'in use by another program' "$SCRATCH/call.err" ||
    fail "zelvano-call got the program's port (exit $call_rc): $(cat "$SCRATCH/call.err")"
step "zelvano-call refused while the program holds the port (exit 74)"
[ -z "$(ls -A "$ROOT/usr/bin" | grep -v '^espa-slave$\|^zelvano$\|^zelvano-call$\|^comports.cfg$' || true)" ] ||
    fail "files appeared beside the installed program: $(ls -A "$ROOT/usr/bin")"
stop_program

# The program has let go of the port: zelvano-call pages through the same
# data folder (espa.set, comports.cfg) and logs into its day file.
call_rc=0
"${AS_USER[@]}" "$ROOT/usr/bin/zelvano-call" --address 6001 --text "Package test" --quiet \
    --timeout 30 >"$SCRATCH/call.out" 2>"$SCRATCH/call.err" || call_rc=$?
[ "$call_rc" -eq 0 ] && [ "$(cat "$SCRATCH/call.out")" = "6001 PAGED" ] ||
    fail "zelvano-call did not page (exit $call_rc): $(cat "$SCRATCH/call.out" "$SCRATCH/call.err")"
grep -q 'STATUS: Call to Buffer for Pager: \[6001\] Alfa: \[Package test\]' "$DATA"/Log/*.log ||
    fail "zelvano-call's call is not in the day file"
step "zelvano-call paged 6001 through the installed data folder (exit 0)"
step "PASS"
