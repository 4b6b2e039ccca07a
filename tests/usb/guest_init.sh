#!/bin/busybox sh
# The guest's /init: the kernel's own USB serial drivers, then a command loop on the
# console (ttyS0) for the harness (tests/usb/vm.py): one command a line, each answered
# by its output and a line "@@<id> <exit code>".
/bin/busybox mkdir -p /proc /sys /dev /tmp /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
dmesg -n 1
for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
  insmod /lib/modules/$m.ko || echo "@@INIT insmod $m failed" >/dev/ttyS0
done
export PATH=/usr/bin:/bin:/usr/sbin:/sbin LANG=C.UTF-8 HOME=/tmp/home
export XDG_CONFIG_HOME=/tmp/home/.config XDG_STATE_HOME=/tmp/home/.local/state XDG_RUNTIME_DIR=/tmp/run
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR" /tmp/out
chmod 700 "$XDG_RUNTIME_DIR"
stty -F /dev/ttyS0 raw -echo
echo "@@READY $(uname -r)" >/dev/ttyS0
while IFS= read -r line; do
  eval "$line"
done </dev/ttyS0 >/dev/ttyS0 2>&1
poweroff -f
