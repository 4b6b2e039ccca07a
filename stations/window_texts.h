// The station window's own texts, German and English. The stations' texts (status,
// boxes, panels) come from the dialogs themselves.
#pragma once

#include <string>

namespace zl::stations {

enum class WinText {
    Title,
    DeviceLabel,
    FileLabel,
    ChooseFile,
    AddStation,
    Remove,
    PortLabel,
    NoPort,
    Counters,  // "%1" good, "%2" failed
    Pass,
    Fail,
    Ok,
    Cancel,
    NoStations,
    FirmwareGroup,
    BusyNoChange,
};

const std::u16string& WText(WinText id, bool english);

}  // namespace zl::stations
