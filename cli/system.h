// What bzl needs of the operating system beyond the platform layer: its arguments, the
// console, interrupts, file names, the user's profile, and the words of its help that
// differ between Linux (cli/posix/) and Windows (cli/win32/).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace zl::cli {

// The arguments after the program name, in UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// Readies the process for a run: from now on an interrupt (Ctrl-C, SIGTERM, the terminal
// or the console window closed) stores its number (SIGINT, SIGTERM, SIGHUP) in flag, and
// the run ends as soon as it safely can; an interrupt that the caller had ignored (nohup)
// stays ignored; a terminal that has gone, or a broken pipe on standard output, is no
// reason to end; the timers wait in milliseconds.
void PrepareProcess(std::atomic<int>& interruptFlag);
// Called once the run is over: lets a console close that waited for the device's reset
// end the process.
void RunEnded();

// Standard output is a terminal, which gets the live line; its width in columns, 0 when
// unknown.
bool LiveTerminal();
int TerminalColumns();
// The terminal clears a line with "\033[K" (else the live line is covered with spaces).
bool TerminalTakesControlSequences();

// Writes UTF-8 text to standard output / standard error (on a console, as characters).
void WriteOut(const std::string& utf8);
void WriteErr(const std::string& utf8);

enum class PathKind { Missing, File, Folder, Other };
// What is at path; size for a file. reason: the system's words when it is missing.
PathKind Inspect(const std::string& path, int64_t& size, std::string& reason);
// The file can be opened for reading / a new file can be made in folder; else why not.
bool Readable(const std::string& path, std::string& reason);
bool WritableFolder(const std::string& folder, std::string& reason);
// path made absolute against the working folder; the folder part of an absolute path
// (with its last separator).
std::string AbsolutePath(const std::string& path);
std::string FolderOf(const std::string& absolutePath);

// The window's profile (read only by bzl): the port and device type it used last.
std::unique_ptr<Profile> UserProfile();

// Help texts: what --port accepts, where the records go, and the ports command.
const char* PortOptionHelp();
const char* RecordsPathHelp();
const char* PortsCommandHelp();
// The usage line of ports link / unlink, where they exist (empty on Windows).
const char* PortsLinkUsage();

}  // namespace zl::cli
