// Which serial lines can be "empty": only the machine's built-in 8250/16550 slots
// (/dev/ttyS*) exist whether or not a UART is behind them. USB serial adapters
// (ftdi_sio, cp210x, ch341, pl2303, cdc-acm, ...) report PORT_UNKNOWN as their type
// too, but are always real lines.
#pragma once

#include <string>
#include <sys/types.h>

namespace zl {

// True when the tty with this device number belongs to the 8250 family of built-in
// serial slots: its driver in sysfs is serial8250, or, where sysfs names no driver,
// its name is ttyS<n>. sysRoot is "/sys" but for tests.
bool IsBuiltinSerialSlot(dev_t device, const std::string& sysRoot = "/sys");

// True when the open tty fd is a built-in serial slot with no UART behind it: it opens
// like any port but carries nothing.
bool IsEmptySerialSlot(int fd, const std::string& sysRoot = "/sys");

}  // namespace zl
