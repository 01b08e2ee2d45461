#!/usr/bin/env bash
# Boots Debian's stock kernel in QEMU on an initramfs of static busybox,
# evdev.ko, uinput.ko and the guest binary, and takes the guest's verdict.
#
#   run_vm_test.sh GUEST_BINARY CACHE_DIR
#
# The kernel package is fetched with apt-get on the first run and kept in
# CACHE_DIR, so later runs need no network. TOLLMERE_VM_KERNEL_DEB may name a
# linux-image .deb to take instead. Exits 77 (skipped) only when QEMU itself
# cannot run here.
set -euo pipefail

guest=$(realpath "$1")
cache=$2
qemu=${TOLLMERE_QEMU:-qemu-system-x86_64}
busybox=${TOLLMERE_BUSYBOX:-/bin/busybox}
vm_timeout=${TOLLMERE_VM_TIMEOUT:-120}

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v "$qemu" >/dev/null || skip "$qemu is not installed (Debian: qemu-system-x86)"
"$qemu" -accel help 2>/dev/null | grep -qx tcg || skip "$qemu cannot emulate (no TCG)"
"$qemu" -device help 2>/dev/null | grep -q '"isa-debug-exit"' \
  || skip "$qemu has no isa-debug-exit device"

[[ -x $busybox ]] || fail "$busybox missing (Debian: busybox-static)"
# A dynamically linked busybox would find no libc on the bare initramfs.
if readelf -l "$busybox" 2>/dev/null | grep -q 'program interpreter'; then
  fail "$busybox is dynamically linked; install busybox-static"
fi

mkdir -p "$cache"
cache=$(realpath "$cache")
kernel=$cache/kernel

# The generic kernel that linux-image-amd64 points at. Not the cloud one: it
# is built without uinput.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null \
    | awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9].*-amd64$/ { print $2; exit }'
}

fetch_kernel_deb() {
  local pkg
  pkg=$(kernel_package)
  if [[ -z $pkg ]]; then
    apt-get update -qq >&2 || true
    pkg=$(kernel_package)
  fi
  [[ -n $pkg ]] || fail "apt-cache knows no linux-image-amd64; is this Debian?"
  mkdir -p "$cache/deb"
  rm -f "$cache/deb/"*.deb
  if ! (cd "$cache/deb" && apt-get download -q "$pkg" >&2); then
    # An old package list names a version the mirror no longer has.
    apt-get update -qq >&2 || true
    pkg=$(kernel_package)
    (cd "$cache/deb" && apt-get download -q "$pkg" >&2) || fail "cannot download $pkg"
  fi
  ls "$cache/deb/"*.deb
}

# Modules may come compressed; busybox's insmod is not counted on to read that.
unpack_module() {
  local from=$1 to=$2
  case $from in
    *.ko) cp "$from" "$to" ;;
    *.ko.xz) xz -dc "$from" >"$to" ;;
    *.ko.zst) zstd -qdc "$from" >"$to" ;;
    *.ko.gz) gzip -dc "$from" >"$to" ;;
    *) fail "unknown module format: $from" ;;
  esac
}

if [[ ! -s $kernel/vmlinuz || ! -s $kernel/evdev.ko || ! -s $kernel/uinput.ko ]]; then
  deb=${TOLLMERE_VM_KERNEL_DEB:-$(fetch_kernel_deb)}
  echo "kernel from $(basename "$deb")"
  tmp=$(mktemp -d "$cache/unpack.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$tmp" --wildcards \
    './boot/vmlinuz-*' '*/kernel/drivers/input/evdev.ko*' '*/kernel/drivers/input/misc/uinput.ko*'
  mkdir -p "$tmp/out"
  cp "$tmp"/boot/vmlinuz-* "$tmp/out/vmlinuz"
  for module in evdev uinput; do
    found=$(find "$tmp" -name "$module.ko*" -path '*/kernel/drivers/input/*' | head -n1)
    [[ -n $found ]] || fail "$module.ko is not in $(basename "$deb") (a cloud kernel?)"
    unpack_module "$found" "$tmp/out/$module.ko"
  done
  # Put in place whole, so an interrupted run leaves no half cache.
  rm -rf "$kernel"
  mv "$tmp/out" "$kernel"
  rm -rf "$tmp" "$cache/deb"
  trap - EXIT
fi

run=$cache/run
rm -rf "$run"
mkdir -p "$run/root"/{bin,dev,proc,sys,tmp}
cp "$busybox" "$run/root/bin/busybox"
cp "$guest" "$run/root/uinput_vm_guest"
cp "$kernel/evdev.ko" "$kernel/uinput.ko" "$run/root/"
# The archive holds no device nodes (making them needs root), so /init has
# no console until it has mounted devtmpfs.
cat >"$run/root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
insmod /evdev.ko && insmod /uinput.ko || echo "uinput-vm: FAIL modules: insmod failed"
/uinput_vm_guest
/uinput_vm_guest --exit-vm $?
echo "uinput-vm: FAIL exit: isa-debug-exit did not end the VM"
poweroff -f
EOF
chmod +x "$run/root/init"
(cd "$run/root" && find . | "$busybox" cpio -o -H newc -R 0:0 2>/dev/null) \
  | gzip -1 >"$run/initramfs.gz"

log=$run/serial.log
start=$(date +%s%N)
set +e
timeout "$vm_timeout" "$qemu" -M pc -accel tcg -m 256M -nodefaults -display none \
  -no-reboot -serial "file:$log" -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
  -kernel "$kernel/vmlinuz" -initrd "$run/initramfs.gz" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" 2>"$run/qemu.log"
rc=$?
set -e
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))

# isa-debug-exit makes QEMU exit with (guest status << 1) | 1.
if ((rc == 1)) && grep -q '^uinput-vm: verdict PASS' "$log"; then
  grep '^uinput-vm:' "$log"
  echo "VM ran in ${elapsed} ms (QEMU, TCG)"
  exit 0
fi
case $rc in
  124) why="the VM did not finish within ${vm_timeout} s" ;;
  0) why="the VM powered off without a verdict" ;;
  *) if ((rc % 2)); then why="the guest reported $(( (rc - 1) / 2 )) failed check(s)"
     else why="QEMU failed with status $rc"; fi ;;
esac
echo "---- serial console ----"
cat "$log" 2>/dev/null || true
echo "---- QEMU ----"
cat "$run/qemu.log"
fail "$why (after ${elapsed} ms)"
