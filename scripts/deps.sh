#!/usr/bin/env bash
# Installs the Debian packages a task needs:
#   deps.sh run    building Tollmere (tests off), running it, the headless demo
#   deps.sh test   that and everything the tests and the benchmark need (default)
# Quick when they are already there: apt is asked only for what is missing.
set -euo pipefail
what=${1:-test}

# A mirror being synced answers for a while with lists or packages of the
# wrong size. A list that fails is only a warning while the packages can
# still be installed from the lists there are; otherwise try again after a
# pause, and in the end say what to do.
retry_apt() {
  local try
  for try in 1 2 3; do
    apt-get update -qq || echo "apt-get update failed in part; installing from the package lists there are" >&2
    apt-get install -y -qq --no-install-recommends "$@" >/dev/null && return 0
    [[ $try == 3 ]] && break
    echo "apt-get install failed (try $try of 3); trying again in $((try * 20)) s" >&2
    sleep $((try * 20))
  done
  echo "Could not install $*: the package mirror may be mid-sync or out of reach." >&2
  echo "Check the network and /etc/apt/sources.list*, wait a few minutes, then run this command again." >&2
  return 1
}

run=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins qt6-wayland libgl-dev
  libx11-dev libxtst-dev libxi-dev
  libwayland-dev libxkbcommon-dev libevdev-dev
  # The headless demo: a virtual X server and its screenshot.
  xvfb xauth imagemagick fonts-dejavu-core
)
test=(
  googletest libgtest-dev
  x11-utils xdotool
  # The benchmark's scripted Wayland hold, beside xdotool's on X11.
  wtype
  # A private session bus for the hotkey's portal test and the command-line tests.
  dbus-daemon dbus-bin
  desktop-file-utils appstream dpkg-dev file man-db
  clang libclang-rt-dev clang-format
  g++-mingw-w64-x86-64-posix wine wine64
  # The x86 (Win32) build and the Windows installer; libc6-i386 tells whether
  # this kernel runs 32-bit programs (below).
  g++-mingw-w64-i686-posix nsis libc6-i386
  wayland-protocols sway grim
  # A private headless GNOME: mutter, the desktop portal with its GNOME back
  # end (started by the session bus), and the bus's session configuration.
  mutter xdg-desktop-portal xdg-desktop-portal-gnome dbus-user-session
  qemu-system-x86 busybox-static xz-utils
)
case $what in
  run) packages=("${run[@]}") ;;
  test) packages=("${run[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  retry_apt "${missing[@]}"
fi

# 32-bit Windows programs (the x86 build's tests, the installers) need Wine's
# 32-bit half, an i386 package. It works only where the kernel runs 32-bit
# programs, which some have switched off (ia32_emulation); there it would
# break Wine for 64-bit programs too, so it is left out.
if [[ $what == test ]] && /lib32/ld-linux.so.2 --version >/dev/null 2>&1 &&
  ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
  echo "Installing: wine32:i386"
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  # Optional, as on a kernel without 32-bit programs: the x86 tests then say
  # they did not run.
  retry_apt wine32:i386 || echo "wine32 not installed: the x86 Windows tests will not run" >&2
fi
