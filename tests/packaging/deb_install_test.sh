#!/usr/bin/env bash
# Builds the .deb, installs it with dpkg, runs the installed program and
# removes it again. Needs root; leaves alone a machine where Tollmere is
# already installed. Arguments: the build directory and the project's version.
set -euo pipefail
build=$1
version=$2
if [[ $(id -u) != 0 ]] || ! command -v dpkg >/dev/null; then
  echo "skipped: needs root and dpkg"
  exit 77
fi
if dpkg-query -W -f='${Status}' tollmere 2>/dev/null | grep -q 'install ok installed'; then
  echo "skipped: a tollmere package is installed here already"
  exit 77
fi

rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/packages/tollmere_*.deb)
echo "built $deb"

# Dependencies are computed from the linked libraries.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libxtst6 libx11-6 qt6-qpa-plugins \
           libwayland-client0 libxkbcommon0 libevdev2; do
  [[ $depends == *"$lib"* ]] || { echo "missing dependency $lib"; exit 1; }
done
[[ $(dpkg-deb -f "$deb" Recommends) == *qt6-wayland* ]] || { echo "qt6-wayland not recommended"; exit 1; }

# Another apt or dpkg run on the machine holds the lock for a while: wait for it.
dpkg_waiting() {
  for _ in $(seq 120); do
    out=$(dpkg "$@" 2>&1) && return 0
    [[ $out == *"frontend lock"* ]] || { echo "$out" >&2; return 1; }
    sleep 1
  done
  echo "$out" >&2
  return 1
}
trap 'dpkg_waiting -r tollmere >/dev/null' EXIT
dpkg_waiting -i "$deb" >/dev/null

[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || { echo "package version is not $version"; exit 1; }
[[ $(/usr/bin/tollmere --version) == "tollmere $version" ]] || { echo "wrong --version"; exit 1; }
for f in /usr/share/applications/org.tollmere.Tollmere.desktop \
         /usr/share/metainfo/org.tollmere.Tollmere.metainfo.xml \
         /usr/share/icons/hicolor/16x16/apps/tollmere.png \
         /usr/share/icons/hicolor/32x32/apps/tollmere.png \
         /usr/share/icons/hicolor/scalable/apps/tollmere.svg \
         /usr/share/pixmaps/tollmere.xpm \
         /usr/share/man/man1/tollmere.1.gz \
         /usr/share/doc/tollmere/copyright; do
  [[ -s $f ]] || { echo "not installed: $f"; exit 1; }
done
# The version is filled in where it is shown.
grep -q "<release version=\"$version\"" /usr/share/metainfo/org.tollmere.Tollmere.metainfo.xml ||
  { echo "metainfo lacks release $version"; exit 1; }
zgrep -q "Tollmere $version" /usr/share/man/man1/tollmere.1.gz || { echo "man page lacks $version"; exit 1; }
file /usr/share/icons/hicolor/32x32/apps/tollmere.png | grep -q '32 x 32' || { echo "32x32 icon is not 32x32"; exit 1; }
desktop-file-validate /usr/share/applications/org.tollmere.Tollmere.desktop
echo "installed, ran and removed"
