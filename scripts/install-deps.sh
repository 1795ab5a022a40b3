#!/usr/bin/env bash
# Installs every Debian package that building, running and testing DoseDesk needs.
# Idempotent: packages already present are left alone, so a second run costs only dpkg queries.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-documentation-tools qt6-l10n-tools
    libqt6help6 libqt6sql6-sqlite qt6-svg-dev libgl-dev qt6-charts-dev libqt6opengl6-dev
    fonts-liberation2 xvfb xauth imagemagick
    clang libclang-rt-dev
    help2man desktop-file-utils appstream dpkg-dev file
    libtelnet-dev ser2net libyaml-cpp-dev
    libmosquitto-dev mosquitto mosquitto-clients openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
