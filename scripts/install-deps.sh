#!/usr/bin/env bash
# Installs every Debian package that building, testing and running the program
# needs. Safe to run again; needs root (or sudo).
set -euo pipefail

packages=(
    build-essential
    cmake
    ninja-build
    pkg-config
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    locales
    libsqlite3-dev
    pxlib-dev
    qt6-base-dev
    qt6-translations-l10n
    fontconfig
    fonts-dejavu-core
    clang
    libclang-rt-14-dev
    unixodbc-dev
    postgresql
    odbc-postgresql
    libsqliteodbc
    tdsodbc
    xvfb
    xauth
    x11-utils
    imagemagick
)

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "install-deps: run as root or install sudo" >&2
    exit 1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
