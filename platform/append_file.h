// Where and how the record of every device is stored: one whole line appended to a
// file in one write, so that two programs on one machine never interleave a record.
#pragma once

#include <string>

namespace zl {

// Appends bytes to the file at path (UTF-8) in a single write in append mode, creating
// the file and its missing folders. false with the system's reason when the bytes
// did not all reach the file (a full disk, no permission, a read-only file system).
bool AppendToFile(const std::string& path, const std::string& bytes, std::string& error);

// The per-user folder for state that programs keep across runs ($XDG_STATE_HOME,
// default ~/.local/state on Linux).
std::string UserStateDirectory();

// This machine's name.
std::string HostName();

}  // namespace zl
