// The command line of BootloaderZL-Stations: [--job JOB.zljob] [--ask-unit]
// [--serve ADDRESS:PORT [--serve-token FILE]].
#pragma once

#include <QStringList>

#include <optional>

#include "stations/stations_window.h"

namespace zl::stations {

// The window's setup from the arguments (without the program's name). A wrong argument
// or a job that cannot be used is shown in a box that says what is wrong; then none, and
// exitCode is set (1: usage or a job file that is no valid job; 7: the job's firmware
// cannot be read or is not the one pinned). --serve's address and token are checked here
// (exit 1: a bad address or token, or an address other than loopback without a token).
std::optional<WindowSetup> SetupFromArguments(const QStringList& args, int& exitCode);

// Says in a box (and on standard error) why the server cannot be started.
void RefuseServe(const QString& text);

}  // namespace zl::stations
