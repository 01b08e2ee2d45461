#!/usr/bin/env bash
# package_test.sh zip|installer WINE_DIR PACKAGE PROBE VERSION: a Windows
# package used as a person would, in the Wine session of wine_session.sh.
# zip: unpack it and run the end-to-end probe against the tollmere.exe in it.
# installer: install silently, start the installed program, find its
# Start-menu shortcut, uninstaller and uninstall entry, uninstall silently and
# find the folder gone. The win32 packages are skipped where Wine cannot run
# 32-bit programs.
set -euo pipefail
what=$1 dir=$2 package=$3 probe=$4 version=$5
run() { bash "$(dirname "$0")/wine_run.sh" "$dir" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }

[[ -f $package ]] || fail "$package is missing: make it with cpack first"
if [[ $package == *-win32* ]] &&
  ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "Skipped: Wine cannot run 32-bit programs here (no wine32, or a kernel without them)"
  exit 77
fi
work=$dir/$(basename "$package").test
rm -rf "$work" && mkdir -p "$work"

if [[ $what == zip ]]; then
  (cd "$work" && cmake -E tar xf "$package")
  exec bash "$(dirname "$0")/wine_run.sh" "$dir" "$probe" "$(echo "$work"/*/tollmere.exe)"
fi

run "$package" /S
user=$(echo "$dir"/prefix/drive_c/users/*/AppData/Local/Programs/Tollmere)
[[ -f $user/tollmere.exe ]] || fail "no tollmere.exe in $user"
run "$user/tollmere.exe" --version >"$work/version.txt"
grep -q "$version" "$work/version.txt" || fail "--version said: $(cat "$work/version.txt")"
[[ -f $user/Uninstall.exe ]] || fail "no uninstaller"
ls "$user"/../../../Roaming/Microsoft/Windows/Start\ Menu/Programs/Tollmere.lnk >/dev/null ||
  fail "no Start-menu shortcut"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tollmere'
run reg query "$key" /v UninstallString | grep -qi 'Uninstall.exe' || fail "no uninstall entry"

run "$user/Uninstall.exe" /S
# The uninstaller runs from a copy of itself, which ends after this one.
for _ in $(seq 100); do
  [[ -e $user ]] || break
  sleep 0.2
done
[[ ! -e $user ]] || fail "$user is still there after uninstalling: $(ls "$user")"
! run reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is still there"
echo "ok: installed, started, uninstalled"
