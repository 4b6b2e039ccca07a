// The command line of BootloaderZL-Stations: [--job JOB.zljob] [--ask-unit].
#pragma once

#include <QStringList>

#include <optional>

#include "stations/stations_window.h"

namespace zl::stations {

// The window's setup from the arguments (without the program's name). A wrong argument
// or a job that cannot be used is shown in a box that says what is wrong; then none, and
// exitCode is set (1: usage or a job file that is no valid job; 7: the job's firmware
// cannot be read or is not the one pinned).
std::optional<WindowSetup> SetupFromArguments(const QStringList& args, int& exitCode);

}  // namespace zl::stations
