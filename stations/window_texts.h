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
    JobHeader,     // "%1" the job's name, "%2" the file, "%3" its SHA-256 (12 hex digits)
    Figures,       // "%1" good, "%2" failed, "%3" first-pass yield, "%4" last hour, "%5" median time
    NoFigure,
    LastDevice,    // "%1" seconds
    UnitLabel,
    UnitPlaceholder,
    AlreadyGood,   // "%1" the unit ID, "%2" date and time
    LoadAgain,
    Skip,
    NotVerified,
    JobRefused,    // the box's title when the job cannot be used
    ServeRefused,  // the box's title when --serve cannot be used
    Usage,
};

const std::u16string& WText(WinText id, bool english);

}  // namespace zl::stations
