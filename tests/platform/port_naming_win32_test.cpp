// A Windows COM port named as Device Manager names it (os/win32/port_naming.h).
#include "os/win32/port_naming.h"

#include <gtest/gtest.h>

namespace zl::win {
namespace {

TEST(PortNamingWin32, TheUsbSerialNumberOnlyWhereTheDeviceHasOne) {
    EXPECT_EQ(UsbSerial(u"USB\\VID_0403&PID_6001\\A50285BI"), u"A50285BI");
    EXPECT_EQ(UsbSerial(u"usb\\vid_10c4&pid_ea60\\0001"), u"0001");
    EXPECT_EQ(UsbSerial(u"USB\\VID_1A86&PID_7523\\5&2C3F9E1&0&3"), u"");        // made up by Windows
    EXPECT_EQ(UsbSerial(u"USB\\VID_2341&PID_0043&MI_00\\6&2A3B&0&0000"), u"");  // one function of a device
    EXPECT_EQ(UsbSerial(u"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000"), u"");   // its USB parent holds it
    EXPECT_EQ(UsbSerial(u"ACPI\\PNP0501\\1"), u"");
    EXPECT_EQ(UsbSerial(u"USB\\"), u"");
    EXPECT_EQ(UsbSerial(u""), u"");
}

TEST(PortNamingWin32, TheNameTheMakerAndTheSerial) {
    EXPECT_EQ(PortDescription(u"USB Serial Port (COM5)", u"FTDI", u"A50285BI"), u"USB Serial Port (FTDI), serial A50285BI");
    // The maker already in the name, and Device Manager's "(Standard port types)".
    EXPECT_EQ(PortDescription(u"Silicon Labs CP210x USB to UART Bridge (COM13)", u"Silicon Labs", u"0001"),
              u"Silicon Labs CP210x USB to UART Bridge, serial 0001");
    EXPECT_EQ(PortDescription(u"Communications Port (COM1)", u"(Standard port types)", u""),
              u"Communications Port (Standard port types)");
    // A name without "(COMn)" stays whole; nothing known gives nothing.
    EXPECT_EQ(PortDescription(u"Virtual Port (loopback)", u"", u""), u"Virtual Port (loopback)");
    EXPECT_EQ(PortDescription(u"", u"", u""), u"");
    EXPECT_EQ(PortDescription(u"", u"WCH", u"1234"), u"WCH, serial 1234");
}

}  // namespace
}  // namespace zl::win
