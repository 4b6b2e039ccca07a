// A newly plugged USB adapter opens in its driver's default mode (canonical, echo on):
// until the line is set, whatever the device sends would be echoed back to it. A port
// the program takes (even for a moment, as the port scan does) is made quiet at once.
#pragma once

namespace zl {

// Raw mode with the line's current speed, and the input the driver held from before
// the open dropped (a Windows COM port also opens with empty buffers).
void QuietLine(int fd);

}  // namespace zl
