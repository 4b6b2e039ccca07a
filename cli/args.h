// bzl's command line: the commands, their options, and the help texts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zl::cli {

enum class Command { None, Ports, PortsLink, PortsUnlink, Info, Load, Read, Verify };

struct Options {
    Command command = Command::None;
    bool help = false;
    bool version = false;
    std::string file;               // FILE of load, read, verify
    std::vector<std::string> ports; // --port (one per station)
    std::optional<int> device;      // --device: 0..3
    int count = 1;                  // --count: 0 = until interrupted
    bool force = false;
    bool verify = false;
    std::optional<double> timeout;  // --timeout in seconds
    bool json = false;
    std::optional<std::string> log; // --log
    bool english = false;           // --lang en
    int linkNumber = 0;             // ports link/unlink N
    std::string linkDevice;         // ports link N DEVICE
    std::optional<std::string> job; // load --job: device, file and verify from a job file
    std::optional<std::string> unit;// load --unit: the one device's unit ID
    bool askUnit = false;           // load --ask-unit: a unit ID from standard input per device
    std::optional<std::string> serve;      // load --serve ADDR:PORT: the read-only HTTP server
    std::optional<std::string> serveToken; // load --serve-token FILE: its bearer token
};

// Parses argv; on a usage error returns false with one line that says what is wrong.
bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error);

// The words of a command that takes options only (report, collect): --help, flags
// (no value), and options with a value ("--x V" or "--x=V"), each handed to set (a
// flag with an empty value); anything else is a usage error naming the command, with
// hint saying where such words go. false with the error; help set on --help.
struct OptionWords {
    const char* command;
    std::vector<std::string> flags;
    std::vector<std::string> valued;
    const char* hint;
};
bool WalkOptions(const std::vector<std::string>& args, const OptionWords& words, bool& help,
                 const std::function<bool(const std::string& name, const std::string& value, std::string& error)>& set,
                 std::string& error);

// --device's value: 0 to 3 or a Device box entry (any case).
bool ParseDevice(const std::string& value, int& device, std::string& error);

// The help text of bzl or of one command.
std::string HelpText(Command command);


}  // namespace zl::cli
