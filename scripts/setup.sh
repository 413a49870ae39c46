#!/usr/bin/env bash
# Installs the Debian 12 packages Zelvano needs to build, run and test.
# Idempotent: when everything is present it does not call apt at all.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ccache
  qt6-base-dev qt6-serialport-dev qt6-base-dev-tools
  libgl-dev
  googletest libgtest-dev libgmock-dev
  xvfb xauth x11-apps x11-utils imagemagick
  fonts-dejavu-core
  clang libclang-rt-14-dev clang-format
  dpkg-dev file lintian desktop-file-utils xdotool
  libsqlite3-dev sqlite3 libmicrohttpd-dev libsystemd-dev curl
  libmosquitto-dev mosquitto
  systemd
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
