// bzl's command line: the commands, their options, and the help texts.
#pragma once

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
};

// Parses argv; on a usage error returns false with one line that says what is wrong.
bool ParseArgs(const std::vector<std::string>& args, Options& options, std::string& error);

// The help text of bzl or of one command.
std::string HelpText(Command command);

// The Device box's names, in their order.
const std::vector<std::string>& DeviceNames();

}  // namespace zl::cli
