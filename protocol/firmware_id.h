// The firmware a device reports, as name, version and date, read from the text its
// Firmware panel shows (the PIC32 kind's "aktuelle Firmware:" section, the HCS kind's
// software, version and date fields).
#pragma once

#include <optional>
#include <string>

namespace zl {

struct FirmwareId {
    std::string name;     // UTF-8, trimmed
    std::string version;
    std::string date;
    bool operator==(const FirmwareId& o) const { return name == o.name && version == o.version && date == o.date; }
};

// The firmware named by a panel text; none when the panel names no firmware (no device,
// "(keine)", a text cut short).
std::optional<FirmwareId> ParseFirmwareId(const std::u16string& panel);

// Blanks, tabs and line ends around a text taken away.
std::string Trimmed(const std::string& text);

}  // namespace zl
