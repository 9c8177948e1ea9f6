#!/usr/bin/env bash
# Installs the Debian 12 packages Vaultine needs to build, run and test, skipping those already
# installed. Uses sudo when not run as root.
set -euo pipefail

PACKAGES=(
    # build
    cmake ninja-build g++ pkg-config ccache
    qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools qt6-svg-dev libqt6svg6
    libglib2.0-dev libsecret-1-dev
    libxcb1-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-xinput-dev libxcb-randr0-dev libxcb-res0-dev libxcb-shape0-dev
    libgl-dev
    # the lock's overlay surfaces on Wayland compositors with the layer shell (wayland-scanner)
    libwayland-dev wayland-protocols libxkbcommon-dev
    # the system guard's password verifier
    libsodium-dev
    # the Debian package (dpkg-shlibdeps) and its desktop entry's check
    dpkg-dev desktop-file-utils
    # tests
    libgtest-dev libgmock-dev clang libclang-rt-14-dev clang-format
    # the private desktop session and the end-to-end tests
    xvfb openbox trayer dbus dbus-x11 gnome-keyring libsecret-tools xdotool x11-utils
    x11-xserver-utils imagemagick fonts-dejavu-core procps python3-dbus python3-gi
    # the Wayland session (headless sway, its screenshots and keys) and Qt's Wayland platform
    sway grim wtype qt6-wayland
    # the GNOME session: headless GNOME Shell (about 105 MB to download, 380 MB installed, 166
    # packages with their dependencies; under a minute to install here)
    gnome-shell
    # real programs the end-to-end tests lock: terminals (one with a bus-started server), X clients,
    # and a nested X server they run on
    gnome-terminal xfce4-terminal xterm x11-apps xserver-xephyr
    # and a Wayland terminal
    foot
)

missing=()
for package in "${PACKAGES[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
    [ "$status" = "installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "setup-packages: all ${#PACKAGES[@]} packages are installed"
    exit 0
fi

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "setup-packages: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
