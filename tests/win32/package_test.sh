#!/usr/bin/env bash
# package_test.sh zip|installer WINE_DIR PACKAGE PROBE VERSION: a Windows
# package used as a person would, in the Wine session of wine_session.sh.
# zip: unpack it and run the end-to-end probe against the tollmere.exe in it.
# installer: install silently, start the installed program, find its
# Start-menu shortcut, uninstaller and uninstall entry, uninstall silently and
# find the folder gone; the same with the program running. Each zip's programs are read first, as Windows would
# load them; where Wine cannot run 32-bit programs, that is all a win32 package
# gets.
set -euo pipefail
what=$1 dir=$2 package=$3 probe=$4 version=$5
run() { bash "$(dirname "$0")/wine_run.sh" "$dir" "$@"; }
fail() { echo "FAIL: $*"; exit 1; }

[[ -f $package ]] || fail "$package is missing: make it with cpack first"
work=$dir/$(basename "$package").test
rm -rf "$work" && mkdir -p "$work"

# Self-contained (system DLLs only), with ASLR and DEP on.
check_pe() {
  local info dll
  info=$(objdump -p "$1")
  (((0x$(awk '/^DllCharacteristics/ {print $2}' <<<"$info") & 0x140) == 0x140)) ||
    fail "$1 lacks ASLR or DEP"
  for dll in $(awk '/DLL Name:/ {print toupper($3)}' <<<"$info"); do
    [[ $dll =~ ^(ADVAPI32|COMCTL32|GDI32|KERNEL32|MSVCRT|OLE32|SHELL32|USER32|WINMM)\.DLL$ ]] ||
      fail "$1 needs $dll, which Windows does not bring"
  done
}
if [[ $what == zip ]]; then
  (cd "$work" && cmake -E tar xf "$package")
  for exe in "$work"/*/tollmere.exe "$work"/*/tollmere.com; do check_pe "$exe"; done
fi

if [[ $package == *-win32* ]] &&
  ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "Not run: Wine cannot run 32-bit programs here (no wine32, or a kernel without them)"
  [[ $what == zip ]] && exit 0 || exit 77
fi
if [[ $what == zip ]]; then
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

# Running, it is closed (its key let go) before its files are replaced or
# removed.
running() {
  run "$user/tollmere.exe" --new-window & pid=$!
  sleep 3
}
closed() {
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
  fail "$1 left the running Tollmere open"
}
running
run "$package" /S || fail "an upgrade over a running Tollmere failed"
closed "an upgrade"
running
run "$user/Uninstall.exe" /S
closed "uninstalling"
# The uninstaller runs from a copy of itself, which ends after this one.
for _ in $(seq 100); do
  [[ -e $user ]] || break
  sleep 0.2
done
[[ ! -e $user ]] || fail "$user is still there after uninstalling: $(ls "$user")"
! run reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry is still there"
echo "ok: installed, started, uninstalled"
