#!/usr/bin/env bash
# Shared by the two entry scripts: installs what is missing, then configures and builds.
set -euo pipefail

SORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SORVANE_BUILD="${SORVANE_BUILD:-$SORVANE_ROOT/build}"

SORVANE_PACKAGES=(
    cmake ninja-build g++ pkg-config ccache
    juce-modules-source juce-tools
    libasound2-dev libjack-jackd2-dev libfreetype-dev libx11-dev libxrandr-dev libxinerama-dev
    libxext-dev libxrender-dev libxcomposite-dev libxcursor-dev libpng-dev libjpeg-dev zlib1g-dev
    libflac-dev libvorbis-dev libmpg123-dev ffmpeg
    libgtest-dev libbenchmark-dev chromium
    jalv lilv-utils lv2-dev sordi ardour desktop-file-utils appstream
    fontconfig-config xvfb xauth x11-utils xdotool jackd2 python3
)

sorvane_install_missing() {
    local missing=()
    local p
    for p in "${SORVANE_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

sorvane_build() {
    if [ ! -f "$SORVANE_BUILD/build.ninja" ]; then
        cmake -S "$SORVANE_ROOT" -B "$SORVANE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release
    fi
    cmake --build "$SORVANE_BUILD" --parallel "$(nproc)" "$@"
}
