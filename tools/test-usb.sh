#!/bin/bash
# bzl against the Linux kernel's own USB serial driver (ftdi_sio): Debian's kernel in QEMU
# (TCG) with a busybox initramfs, QEMU's emulated FTDI adapters on an xHCI controller, and
# zlsim on the host at each adapter's far end (tests/usb/scenarios.py). Installs what it
# needs (qemu-system-x86, busybox-static) with apt-get, fetches Debian's kernel package
# once (cached in build-usb/kernel), builds bzl, zlsim and zlfw in build-usb/. A few minutes.
# Arguments: scenario names to run alone (see tests/usb/scenarios.py), e.g. "busy kill".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BZL_USB_BUILD:-$root/build-usb}
start=$SECONDS
sudo=; [ "$(id -u)" = 0 ] || sudo=sudo

"$root/tools/install-deps.sh"
need=()
command -v qemu-system-x86_64 >/dev/null || need+=(qemu-system-x86)
dpkg -s busybox-static >/dev/null 2>&1 || need+=(busybox-static)  # the guest has no libraries for another
command -v python3 >/dev/null || need+=(python3)
if ((${#need[@]})); then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# Debian's own kernel, the one linux-image-amd64 depends on: only vmlinuz and the USB
# serial driver modules are kept.
kernel_pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n1)
if [ -z "$kernel_pkg" ]; then
  $sudo apt-get update -qq
  kernel_pkg=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n1)
fi
kernel_dir=$build/kernel/$kernel_pkg
if ! ls "$kernel_dir"/boot/vmlinuz-* >/dev/null 2>&1; then
  echo "test-usb: fetching $kernel_pkg"
  rm -rf "$build/kernel"
  mkdir -p "$build/kernel/dl" "$kernel_dir.tmp"
  (cd "$build/kernel/dl" && apt-get download "$kernel_pkg" >/dev/null 2>&1 ||
     { $sudo apt-get update -qq && apt-get download "$kernel_pkg" >/dev/null; })
  dpkg-deb --fsys-tarfile "$build"/kernel/dl/*.deb |
    tar -x -C "$kernel_dir.tmp" --wildcards './boot/vmlinuz-*' \
      '*/usb-common.ko' '*/usbcore.ko' '*/xhci-hcd.ko' '*/xhci-pci.ko' '*/usbserial.ko' '*/ftdi_sio.ko'
  rm -rf "$build/kernel/dl"
  mv "$kernel_dir.tmp" "$kernel_dir"
fi

# bzl, zlsim and zlfw without the window, and the line probe on the project's serial code.
# A tree configured before (BZL_USB_BUILD=build-pkg: the packages' own build) is used as it is.
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DBZL_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bzl zlsim zlfw line_probe -j"${BZL_JOBS:-2}" >/dev/null
echo "test-usb: kernel and build ready after $((SECONDS - start)) s"

status=0
# Every wait in the scenarios is bounded; this bounds their sum when many fail.
PYTHONDONTWRITEBYTECODE=1 timeout -k 10 900 python3 "$root/tests/usb/scenarios.py" "$build" "$kernel_dir" "$@" || status=$?
echo "test-usb: $((SECONDS - start)) s in all"
exit $status
