#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need.
# Quick when they are already there: apt is asked only for what is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libx11-dev libxtst-dev libxi-dev
  googletest libgtest-dev
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  desktop-file-utils appstream dpkg-dev file man-db
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix wine wine64
  xdotool time
  libwayland-dev wayland-protocols libxkbcommon-dev qt6-wayland sway grim
  libevdev-dev qemu-system-x86 busybox-static xz-utils
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
