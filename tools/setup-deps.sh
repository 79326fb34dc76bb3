#!/usr/bin/env bash
# Installs what building, running and testing 知微阁 needs on Debian 12, 13
# or testing, and generates the zh_CN.UTF-8 locale. Does nothing when
# everything is already there. Where a release names a package differently,
# the entry lists the names with | and the first this release has is taken.
set -euo pipefail

packages=(
    # build; the tune is decoded by libmpg123 and played through Qt Multimedia's sound output
    cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libmpg123-dev
    # the native interface of Qt's platforms, and the Wayland client library
    qt6-base-private-dev libwayland-dev
    # Qt SVG for tools/assetgen, which draws the pictures from their sources
    qt6-svg-dev libxkbcommon-dev libgl-dev zlib1g-dev qt6-translations-l10n
    # the capture asks the X server where the window manager's frame is
    libxcb1-dev
    # Chinese text
    fonts-wqy-microhei fonts-dejavu-core
    # tests: Google Test and Benchmark, clang for the fuzzers and sanitizers
    libgtest-dev libbenchmark-dev clang libclang-rt-dev
    # running without a screen and driving the program from outside
    xvfb xauth xdotool xclip imagemagick x11-apps openbox xcompmgr
    pulseaudio sox libsox-fmt-mp3 procps curl iproute2
    # a sound server of the tests' own, and what plays into it read back
    pulseaudio-utils
    # the end-to-end suite also runs the program in a Chinese locale
    locales
    # the end-to-end suite: window properties, a session bus with the
    # accessibility tree read from Debian's python3, and xdg-open for the browser
    x11-utils dbus at-spi2-core python3-gi gir1.2-atspi-2.0 xdg-utils
    # the launcher tells the person on the desktop when another user holds the port
    zenity
    # the desktop theme of GNOME-like desktops, whose font the layout must withstand
    qt6-gtk-platformtheme
    # the desktops people run: GNOME's, KDE's and sway's compositors headless,
    # with XWayland, Qt's Wayland platform, PipeWire for the sound, and what
    # the tests drive them with (screenshots, keys, the clipboard, a virtual
    # pointer built from its protocol; mutter's screen cast read through
    # GStreamer's PipeWire source, videoconvert and multifilesink)
    mutter kwin-wayland sway xwayland qt6-wayland
    pipewire pipewire-bin pipewire-pulse wireplumber gstreamer1.0-pipewire gstreamer1.0-tools
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    grim wtype wl-clipboard python3-dbus wayland-protocols
    # the Debian package: cpack's dependency scan and the menu entry's check;
    # lintian, hardening-check (devscripts), the AppStream validator, and
    # systemd's unit checker and socket hand-over for the offline service
    dpkg-dev file desktop-file-utils lintian devscripts appstream systemd
)

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# This release's name for an entry is the first it has, installed or not:
# a package that moved its files elsewhere may stay installed by its old name.
available() {
    local candidate
    candidate=$(apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p')
    [[ -n $candidate && $candidate != '(none)' ]]
}

missing=()
for entry in "${packages[@]}"; do
    IFS='|' read -ra names <<<"$entry"
    for name in "${names[@]}"; do
        installed "$name" && break
        if available "$name" || [[ $name == "${names[-1]}" ]]; then
            missing+=("$entry")
            break
        fi
    done
done

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
    chosen=()
    for entry in "${missing[@]}"; do
        IFS='|' read -ra names <<<"$entry"
        pick=
        for name in "${names[@]}"; do
            if available "$name"; then
                pick=$name
                break
            fi
        done
        if [[ -z $pick ]]; then
            echo "setup-deps.sh: this release has no package named ${names[*]}" >&2
            exit 1
        fi
        chosen+=("$pick")
    done
    echo "Installing: ${chosen[*]}"
    "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${chosen[@]}" >/dev/null
fi

# zh_CN.UTF-8, as a Chinese desktop has it. Kept in locale.gen, so that a
# later locale-gen keeps it too.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN\.utf-\?8'; then
    echo "Generating the zh_CN.UTF-8 locale"
    [[ ! -f /etc/locale.gen ]] || "${sudo[@]}" sed -i 's/^# *\(zh_CN\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'zh_CN.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'zh_CN.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    # Another set-up may be generating at the same moment: one at a time.
    "${sudo[@]}" flock /etc/locale.gen locale-gen >/dev/null
fi
