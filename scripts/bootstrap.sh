#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Velloq need. Does nothing when
# they are all present, so it is safe to run before every build.
set -euo pipefail

packages=(
    cmake g++ pkg-config ninja-build
    libsdl2-dev libx11-dev libxext-dev libsqlite3-dev libicu-dev
    libfreetype-dev libharfbuzz-dev libharfbuzz-bin libfontconfig-dev
    fonts-dejavu-core fonts-noto-core fonts-droid-fallback fonts-noto-color-emoji libpng-dev libjpeg-dev libgif-dev
    libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
    sqlite3 xdg-utils
    libmm-glib-dev libglib2.0-dev libsystemd-dev systemd
    libebook1.2-dev evolution-data-server gir1.2-ebook-1.2 gir1.2-edataserver-1.2
    dbus-daemon python3-dbusmock python3-dbus python3-gi libglib2.0-bin
    xvfb xdotool
    libwayland-dev wayland-protocols libxkbcommon-dev xkb-data phoc squeekboard grim wlr-randr wl-clipboard appstream desktop-file-utils
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
