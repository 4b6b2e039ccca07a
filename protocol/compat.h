// Whether a PIC32 firmware file belongs to the connected device: its first 100 bytes
// must hold the manufacturer and hardware values the device reports.
#pragma once

#include <string>

namespace zl {

// deviceText: the stored device text (from "Bootloader" on, translated while the
// interface is English); headerText: the file's first 100 bytes, widened.
bool IsFileCompatibleText(bool english, std::u16string deviceText, std::u16string headerText);

// The manufacturer and hardware values a PIC32 device reports (16 characters each,
// empty when the text does not hold them), read as the compatibility check reads them.
struct DeviceIdentity {
    std::u16string manufacturer;
    std::u16string hardware;
};
DeviceIdentity IdentityOf(const std::u16string& deviceText, bool english);

}  // namespace zl
