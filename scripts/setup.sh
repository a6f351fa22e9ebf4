#!/usr/bin/env bash
# Installs the Debian packages Taskbell needs to build, run and test. Idempotent: installs only what is
# missing, without recommends. Needs root or sudo.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git ca-certificates
    clang libclang-rt-14-dev clang-format clang-tidy
    libgtest-dev libgmock-dev libbenchmark-dev
    tzdata libcurl4-openssl-dev nlohmann-json3-dev libicu-dev libssl-dev libarchive-dev libplist-dev libdbus-1-dev
    libglib2.0-dev
    libcpp-httplib-dev libsimdjson-dev
    dbus gnome-keyring libsecret-tools
    zip unzip patchelf
    qt6-base-dev qt6-svg-dev qt6-wayland qt6-l10n-tools qt6-tools-dev libgl-dev fonts-dejavu-core
    xvfb xauth trayer xdotool x11-utils openbox xclip at-spi2-core python3-gi gir1.2-atspi-2.0 imagemagick
    gcovr desktop-file-utils
)
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} > 0)); then
    sudo=""
    if [[ $(id -u) -ne 0 ]]; then
        sudo="sudo"
    fi
    echo "setup: installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
