#!/usr/bin/env bash
# Installs what building, running and testing 知微阁 needs on Debian 12.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev
    qt6-svg-dev libqt6svg6 libxkbcommon-dev libgl-dev zlib1g-dev qt6-translations-l10n
    # the capture asks the X server where the window manager's frame is
    libxcb1-dev
    # sound: Qt Multimedia plays through GStreamer; mp3 needs plugins-good
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    # Chinese text
    fonts-wqy-microhei fonts-dejavu-core
    # tests: Google Test and Benchmark, clang for the fuzzers and sanitizers
    libgtest-dev libbenchmark-dev clang libclang-rt-dev
    # running without a screen and driving the program from outside
    xvfb xauth xdotool xclip imagemagick x11-apps openbox xcompmgr
    pulseaudio sox libsox-fmt-mp3 procps curl
    # the end-to-end suite: window properties, a session bus with the
    # accessibility tree read from Debian's python3, and xdg-open for the browser
    x11-utils dbus at-spi2-core python3-gi gir1.2-atspi-2.0 xdg-utils
    # the Debian package: cpack's dependency scan and the menu entry's check
    dpkg-dev file desktop-file-utils
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
