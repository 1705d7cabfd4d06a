#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the program and the tests need.
# Non-interactive and idempotent: when everything is present it only checks.
set -euo pipefail

packages=(
    build-essential cmake pkg-config git
    qtbase5-dev qtmultimedia5-dev libqt5multimedia5-plugins
    libphonon4qt5-dev phonon4qt5-backend-gstreamer
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    libjsoncpp-dev libcpp-httplib-dev libcli11-dev libssl-dev
    libmicrohttpd-dev zlib1g-dev libopencc-dev libopencc-data
    libqt5sql5-sqlite
    libpocketsphinx-dev libsphinxbase-dev pocketsphinx-en-us pocketsphinx
    ffmpeg flite sox espeak-ng fonts-noto-cjk
    qttranslations5-l10n libphonon4qt5-data
    xvfb xauth x11-utils x11-xserver-utils imagemagick
    nginx curl
    qtkeychain-qt5-dev gnome-keyring dbus dbus-x11 dbus-daemon libsecret-1-0 openssl
    lintian desktop-file-utils appstream
    clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
