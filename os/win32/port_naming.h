// A COM port's name as Device Manager shows it, from what SetupAPI says of its device:
// "USB Serial Port (FTDI), serial A50285BI". No Windows header here, so that the
// naming can be tested on any system.
#pragma once

#include <string>

namespace zl::win {

// The serial number in a USB device's instance ID ("USB\VID_0403&PID_6001\A50285BI"),
// or empty: the ID of another bus, of one function of a composite device
// ("USB\VID_2341&PID_0043&MI_00\6&2a3b&0&0000"), or one that Windows made up for a
// device without a serial number (it holds '&').
inline std::u16string UsbSerial(const std::u16string& instanceId) {
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    if (instanceId.size() < 4 || upper(instanceId[0]) != u'U' || upper(instanceId[1]) != u'S' ||
        upper(instanceId[2]) != u'B' || instanceId[3] != u'\\')
        return {};
    const size_t last = instanceId.rfind(u'\\');
    if (last == 3 || last == std::u16string::npos) return {};
    const std::u16string hardware = instanceId.substr(4, last - 4);
    if (hardware.find(u"MI_") != std::u16string::npos) return {};
    const std::u16string serial = instanceId.substr(last + 1);
    if (serial.empty() || serial.find(u'&') != std::u16string::npos) return {};
    return serial;
}

// "USB Serial Port (FTDI), serial A50285BI": the friendly name without its " (COMn)",
// the maker when the name does not hold it already, the USB serial number when there
// is one. Empty when the system knows nothing of the device.
inline std::u16string PortDescription(std::u16string friendly, std::u16string maker, const std::u16string& serial) {
    const size_t open = friendly.rfind(u" (COM");
    if (open != std::u16string::npos && !friendly.empty() && friendly.back() == u')') friendly.erase(open);
    if (maker.size() >= 2 && maker.front() == u'(' && maker.back() == u')') maker = maker.substr(1, maker.size() - 2);
    auto lower = [](std::u16string s) {
        for (char16_t& c : s)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
        return s;
    };
    std::u16string text = friendly;
    if (!maker.empty() && lower(friendly).find(lower(maker)) == std::u16string::npos)
        text += text.empty() ? maker : u" (" + maker + u")";
    if (!serial.empty()) text += (text.empty() ? u"serial " : u", serial ") + serial;
    return text;
}

}  // namespace zl::win
