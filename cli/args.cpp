#include "cli/args.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "cli/system.h"
#include "platform/text_convert.h"
#include "res/resources.h"

namespace zl::cli {
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseInt(const std::string& s, long min, long max, long& value) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    value = v;
    return true;
}

struct OptionSpec {
    const char* name;
    bool takesValue;
    unsigned commands;  // bit per Command
};

constexpr unsigned Bit(Command c) { return 1u << static_cast<unsigned>(c); }
constexpr unsigned kDeviceCommands = Bit(Command::Info) | Bit(Command::Load) | Bit(Command::Read) | Bit(Command::Verify);
constexpr unsigned kFileCommands = Bit(Command::Load) | Bit(Command::Read) | Bit(Command::Verify);

const OptionSpec kOptions[] = {
    {"--port", true, kDeviceCommands},
    {"--device", true, Bit(Command::Info) | Bit(Command::Load)},
    {"--count", true, Bit(Command::Load)},
    {"--force", false, Bit(Command::Load)},
    {"--verify", false, Bit(Command::Load)},
    {"--timeout", true, kDeviceCommands},
    {"--json", false, kDeviceCommands | Bit(Command::Ports)},
    {"--log", true, kFileCommands},
    {"--lang", true, kDeviceCommands},
    {"--job", true, Bit(Command::Load)},
    {"--unit", true, Bit(Command::Load)},
    {"--ask-unit", false, Bit(Command::Load)},
    {"--serve", true, Bit(Command::Load)},
    {"--serve-token", true, Bit(Command::Load)},
};

const char* CommandName(Command c) {
    switch (c) {
        case Command::Ports: return "ports";
        case Command::PortsLink: return "ports link";
        case Command::PortsUnlink: return "ports unlink";
        case Command::Info: return "info";
        case Command::Load: return "load";
        case Command::Read: return "read";
        case Command::Verify: return "verify";
        case Command::None: break;
    }
    return "bzl";
}

bool SetOption(const std::string& name, const std::string& value, Options& o, std::string& error) {
    long n = 0;
    if (name == "--port") {
        if (value.empty()) return error = "--port needs a port: COMn or a device path", false;
        o.ports.push_back(value);
    } else if (name == "--device") {
        int device = 0;
        if (!ParseDevice(value, device, error)) return false;
        o.device = device;
    } else if (name == "--count") {
        if (!ParseInt(value, 0, 1000000000, n))
            return error = "--count \"" + value + "\": give the number of devices, 0 or more (0: until interrupted)", false;
        o.count = static_cast<int>(n);
    } else if (name == "--timeout") {
        char* end = nullptr;
        const double s = std::strtod(value.c_str(), &end);
        if (value.empty() || *end != '\0' || !std::isfinite(s) || s <= 0 || s > 1e7)
            return error = "--timeout \"" + value + "\": give the seconds to wait for a device, more than 0", false;
        o.timeout = s;
    } else if (name == "--log") {
        if (value.empty()) return error = "--log needs a file", false;
        o.log = value;
    } else if (name == "--lang") {
        if (value != "de" && value != "en") return error = "--lang \"" + value + "\": give de or en", false;
        o.english = value == "en";
    } else if (name == "--job") {
        if (value.empty()) return error = "--job needs the job file", false;
        o.job = value;
    } else if (name == "--unit") {
        if (value.empty() || value.size() > 200) return error = "--unit needs the unit's ID (1 to 200 characters)", false;
        o.unit = value;
    } else if (name == "--serve" || name == "--serve-token") {
        if (value.empty()) return error = name + " needs a value", false;
        (name == "--serve" ? o.serve : o.serveToken) = value;
    } else if (name == "--ask-unit") {
        o.askUnit = true;
    } else if (name == "--json") {
        o.json = true;
    } else if (name == "--force") {
        o.force = true;
    } else if (name == "--verify") {
        o.verify = true;
    }
    return true;
}

}  // namespace

bool WalkOptions(const std::vector<std::string>& args, const OptionWords& words, bool& help,
                 const std::function<bool(const std::string& name, const std::string& value, std::string& error)>& set,
                 std::string& error) {
    auto among = [](const std::vector<std::string>& list, const std::string& name) {
        return std::find(list.begin(), list.end(), name) != list.end();
    };
    const std::string command = words.command;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") return help = true, true;
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (among(words.flags, name)) {
            if (eq != std::string::npos) return error = name + " takes no value", false;
            if (!set(name, "", error)) return false;
            continue;
        }
        if (!among(words.valued, name)) {
            if (a.size() > 1 && a[0] == '-') return error = "unknown option \"" + name + "\" for " + command + "; see bzl " + command + " --help", false;
            return error = command + " takes no argument \"" + a + "\" (" + words.hint + ")", false;
        }
        std::string value;
        if (eq != std::string::npos) value = a.substr(eq + 1);
        else if (i + 1 < args.size()) value = args[++i];
        else return error = name + " needs a value", false;
        if (!set(name, value, error)) return false;
    }
    return true;
}

bool ParseDevice(const std::string& value, int& device, std::string& error) {
    long n = 0;
    if (ParseInt(value, 0, 3, n)) return device = static_cast<int>(n), true;
    const auto& names = DeviceTypeNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (Lower(ToUtf8(names[i])) == Lower(value)) return device = static_cast<int>(i), true;
    return error = "--device \"" + value + "\": give 0 to 3 or one of \"Corvel 6\", \"ZL418 Nord\", "
                   "\"Linkbox K7/9\", \"Pallas 2c/3c\"", false;
}

namespace {

// The command word (and "ports link|unlink"); i is left at the first word after it.
bool ParseCommand(const std::vector<std::string>& args, size_t& i, Options& o, std::string& error) {
    if (i >= args.size()) return error = "no command given (ports, info, load, read, verify, job, report, collect); see bzl --help", false;
    const std::string& cmd = args[i++];
    if (cmd == "ports") o.command = Command::Ports;
    else if (cmd == "info") o.command = Command::Info;
    else if (cmd == "load") o.command = Command::Load;
    else if (cmd == "read") o.command = Command::Read;
    else if (cmd == "verify") o.command = Command::Verify;
    else if (!cmd.empty() && cmd[0] == '-') return error = "unknown option \"" + cmd + "\" before the command; see bzl --help", false;
    else return error = "unknown command \"" + cmd + "\" (ports, info, load, read, verify, job, report, collect); see bzl --help", false;
    if (o.command == Command::Ports && i < args.size() && (args[i] == "link" || args[i] == "unlink")) {
        o.command = args[i] == "link" ? Command::PortsLink : Command::PortsUnlink;
        ++i;
    }
    return true;
}

// The options after the command; the other words go to positional. --help ends the parse.
bool ParseOptions(const std::vector<std::string>& args, size_t i, Options& o, std::vector<std::string>& positional,
                  std::string& error) {
    bool onlyPositional = false;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyPositional || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyPositional = true;
            continue;
        }
        if (a == "--help" || a == "-h") return o.help = true, true;
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        const OptionSpec* option = nullptr;
        for (const OptionSpec& s : kOptions)
            if (name == s.name) option = &s;
        if (!option) return error = "unknown option \"" + name + "\" for " + CommandName(o.command) + "; see bzl " +
                                  CommandName(o.command) + " --help", false;
        if (!(option->commands & Bit(o.command)))
            return error = std::string(CommandName(o.command)) + " takes no " + name + "; see bzl " +
                           CommandName(o.command) + " --help", false;
        std::string value;
        if (option->takesValue) {
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
            } else {
                if (i + 1 >= args.size()) return error = name + " needs a value", false;
                value = args[++i];
            }
        } else if (eq != std::string::npos) {
            return error = name + " takes no value", false;
        }
        if (!SetOption(name, value, o, error)) return false;
    }
    return true;
}

// The words that are not options: the FILE, or what ports link/unlink take.
bool TakePositional(const std::vector<std::string>& positional, Options& o, std::string& error) {
    switch (o.command) {
        case Command::Ports:
            if (!positional.empty()) return error = "ports takes no argument \"" + positional[0] + "\" (link N DEVICE, unlink N)", false;
            return true;
        case Command::PortsLink:
        case Command::PortsUnlink: {
            const size_t want = o.command == Command::PortsLink ? 2 : 1;
            if (positional.size() != want)
                return error = o.command == Command::PortsLink ? "usage: bzl ports link N DEVICE" : "usage: bzl ports unlink N", false;
            long n = 0;
            if (!ParseInt(positional[0], 1, 256, n)) return error = "\"" + positional[0] + "\": the COM number is 1 to 256", false;
            o.linkNumber = static_cast<int>(n);
            if (want == 2) o.linkDevice = positional[1];
            return true;
        }
        case Command::Info:
            if (!positional.empty()) return error = "info takes no argument \"" + positional[0] + "\"", false;
            return true;
        default:
            if (o.job) {
                if (!positional.empty()) return error = "load --job takes its file from the job; give no FILE (\"" + positional[0] + "\")", false;
                return true;
            }
            if (positional.empty()) return error = std::string(CommandName(o.command)) + " needs a FILE; see bzl " + CommandName(o.command) + " --help", false;
            if (positional.size() > 1) return error = "one FILE only (\"" + positional[1] + "\" is one too many)", false;
            o.file = positional[0];
            return true;
    }
}

}  // namespace

bool ParseArgs(const std::vector<std::string>& args, Options& o, std::string& error) {
    o = Options{};
    // The command comes first; --help and --version may stand alone.
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) return o.help = true, true;
    if (!args.empty() && args[0] == "--version") return o.version = true, true;
    size_t i = 0;
    std::vector<std::string> positional;
    if (!ParseCommand(args, i, o, error) || !ParseOptions(args, i, o, positional, error)) return false;
    if (o.help) return true;
    if (!TakePositional(positional, o, error)) return false;
    if (o.job && o.device) return error = "load --job takes its device type from the job; give no --device", false;
    if (o.job && o.verify) return error = "load --job: whether each load is verified is the job's to say; give no --verify", false;
    if (o.unit && o.askUnit) return error = "--unit and --ask-unit exclude each other", false;
    if (o.unit && (o.count != 1 || o.ports.size() > 1)) return error = "--unit names one device: give it with one --port and --count 1", false;
    if (o.serveToken && !o.serve) return error = "--serve-token goes with --serve ADDR:PORT", false;
    if (o.askUnit && o.ports.size() > 1) return error = "--ask-unit reads the IDs of one station: give one --port", false;
    if (o.command >= Command::Info) {
        if (o.ports.empty()) return error = std::string(CommandName(o.command)) + " needs --port P (COMn or a device path)", false;
        if (o.ports.size() > 1 && o.command != Command::Load)
            return error = std::string(CommandName(o.command)) + " takes one --port only (load takes one per station)", false;
    }
    return true;
}

std::string HelpText(Command command) {
    static const std::string kCommon = std::string(PortOptionHelp()) +
        "  --timeout S    wait at most S seconds for a device to be switched on (default: no limit)\n"
        "  --json         one JSON object per line on stdout for every event, instead of text\n"
        "  --lang de|en   the language of the program's texts (default de)\n";
    static const std::string kLog = std::string("  --log F        append the record of each device to F instead of\n"
                                                "                 ") + RecordsPathHelp() + "\n";
    static const std::string kDevice =
        "  --device D     the device type: 0 to 3 or its name (\"Corvel 6\", \"ZL418 Nord\", \"Linkbox K7/9\",\n"
        "                 \"Pallas 2c/3c\"); default: the one the window used last\n";
    static const std::string kExit =
        "Exit codes: 0 all devices good; 1 usage; 2 port unavailable; 3 no device within --timeout;\n"
        "4 transfer failed (start refused, length error, readout incomplete, device gone); 5 verify mismatch;\n"
        "6 incompatible file refused; 7 file error (cannot open, read, create or write); 130 interrupted\n"
        "(Ctrl-C; during a transfer the transfer is finished first).\n";
    switch (command) {
        case Command::Ports:
        case Command::PortsLink:
        case Command::PortsUnlink:
            return PortsCommandHelp();
        case Command::Info:
            return "usage: bzl info --port P [--device D] [--timeout S] [--json] [--lang de|en]\n\n"
                   "Waits for the device to be switched on (the wake-up flood, as the window sends it), prints\n"
                   "what the window's panels show (manufacturer, hardware, firmware in the device and in flash,\n"
                   "the previous update; for the HCS kind software, version and date), then resets the device.\n\n" +
                   kDevice + kCommon + "\n" + kExit;
        case Command::Load:
            return "usage: bzl load FILE --port P [--port P2 ...] [--device D] [--count N] [--force] [--verify]\n"
                   "                [--timeout S] [--json] [--log F] [--lang de|en] [--unit ID | --ask-unit]\n"
                   "       bzl load --job JOB --port P [--port P2 ...] [--count N] [...]\n\n"
                   "Auto-Load: loads FILE into every suitable device switched on at the port, one after another;\n"
                   "between devices switch the device off and on again, as with the window.\n\n"
                   "Several --port: one station per port, all at once in this one process, each waiting for its\n"
                   "own devices. Text lines begin with the station's port; JSON events carry \"station\"; --count\n"
                   "counts per station; the exit code is that of the first device that failed on any station.\n\n" +
                   kDevice +
                   "  --count N      handle N devices, then end (default 1; 0: until interrupted)\n"
                   "  --force        load also a file the compatibility check refuses (default: refuse, exit 6)\n"
                   "  --verify       after each PIC32 load, once the device is connected again, compare FILE\n"
                   "                 with its flash; a mismatch fails that device\n"
                   "  --job JOB      device type, file and --verify from a job (bzl job --help); the file's\n"
                   "                 SHA-256 is checked before any device sees a load command (exit 7)\n"
                   "  --unit ID      the unit's ID for its record (one device)\n"
                   "  --ask-unit     before each device read its unit ID from standard input (a barcode\n"
                   "                 scanner types the label and Enter); the search starts once it is read;\n"
                   "                 an empty line or the end of input ends the run\n"
                   "  --serve A:P    answer HTTP GET on address A, port P while the run lasts (read-only):\n"
                   "                 /metrics (Prometheus), /api/v1/stations, /api/v1/records, / (a live page)\n"
                   "  --serve-token F  every request must carry \"Authorization: Bearer\" and the token in F;\n"
                   "                 required for an address other than loopback (127.0.0.1, ::1, localhost)\n" +
                   kCommon + kLog + "\n" + kExit +
                   "With --count N > 1 or several stations the code is that of the first device that failed.\n";
        case Command::Read:
            return "usage: bzl read FILE --port P [--timeout S] [--json] [--log F] [--lang de|en]\n\n"
                   "Reads the flash of one PIC32 device (the only kind with a readout) into FILE, then resets it.\n\n" +
                   kCommon + kLog + "\n" + kExit;
        case Command::Verify:
            return "usage: bzl verify FILE --port P [--timeout S] [--json] [--log F] [--lang de|en]\n\n"
                   "Has one PIC32 device compare FILE with its flash, then resets it.\n\n" +
                   kCommon + kLog + "\n" + kExit;
        case Command::None: break;
    }
    return std::string("usage: bzl COMMAND [OPTIONS]   (bzl COMMAND --help for its options)\n\n"
           "Flashes Hallwyn ZL devices over a serial port without a window: the same exchanges as BootloaderZL.\n\n"
           "  bzl ports  [--json]\n" +
           std::string(PortsLinkUsage()) +
           "  bzl info   --port P [--device D] [--timeout S] [--json] [--lang de|en]\n"
           "  bzl load   FILE --port P [--port P2 ...] [--device D] [--count N] [--force] [--verify]\n"
           "             [--timeout S] [--json] [--log F] [--lang de|en]\n"
           "  bzl read   FILE --port P [--timeout S] [--json] [--log F] [--lang de|en]\n"
           "  bzl verify FILE --port P [--timeout S] [--json] [--log F] [--lang de|en]\n"
           "  bzl load   --job JOB --port P [...]   (bzl job --help)\n"
           "  bzl job    make JOB --file FW --device D [...] | show JOB\n"
           "  bzl report [--log F ... | --db URL] [--since T | --last 8h] [--job JOB] [--by FIELD] [--json | --csv]\n"
           "  bzl collect --from URL|--from-file F [...] --to postgresql://... [--follow]   (Linux)\n"
           "  bzl --version\n\n"
           "Output: on a terminal one live line per state; otherwise plain lines, progress every 10 %;\n"
           "--json: one JSON object per event. Every load, readout and verify that reached a device is\n"
           "recorded as one JSON line in ") + RecordsPathHelp() + " (or --log F).\n"
           "bzl never changes the window's settings.\n\n" +
           kExit;
}

}  // namespace zl::cli
