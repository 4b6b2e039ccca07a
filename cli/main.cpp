// bzl: the command line on the dialog core. See bzl --help.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/args.h"
#include "cli/output.h"
#include "cli/port_choice.h"
#include "cli/ports_command.h"
#include "cli/station.h"
#include "platform/settings/qsettings_profile.h"
#include "platform/text_convert.h"
#include "records/record_log.h"

namespace {

using namespace zl::cli;

std::atomic<int> g_interrupt{0};

void OnSignal(int sig) { g_interrupt = sig; }

bool ValidUtf8(const std::string& s) { return zl::ToUtf8(zl::FromUtf8(s)) == s && s.find('\0') == std::string::npos; }

int Fail(int code, const std::string& text) {
    std::fprintf(stderr, "bzl: %s\n", text.c_str());
    return code;
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

// FILE as the command needs it: an existing readable regular file to load or verify, a
// writable place for a readout. 0, or exit code 7 with the reason printed.
int CheckFile(Command command, const std::string& file) {
    if (!ValidUtf8(file)) return Fail(kExitFile, "FILE: the name is not valid UTF-8; rename the file");
    struct stat st;
    const bool exists = stat(file.c_str(), &st) == 0;
    if (command == Command::Read) {
        if (exists && S_ISDIR(st.st_mode)) return Fail(kExitFile, file + " is a folder; give the file to read the flash into");
        if (exists && !S_ISREG(st.st_mode)) return Fail(kExitFile, file + " is not a regular file");
        const std::string abs = Absolute(file);
        const std::string dir = abs.substr(0, abs.rfind('/') + 1);
        if (access(dir.c_str(), W_OK) != 0) return Fail(kExitFile, "cannot write into " + dir + ": " + std::strerror(errno));
        return 0;
    }
    if (!exists) return Fail(kExitFile, file + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return Fail(kExitFile, file + " is a folder, not a firmware file");
    if (!S_ISREG(st.st_mode)) return Fail(kExitFile, file + " is not a regular file");
    if (access(file.c_str(), R_OK) != 0) return Fail(kExitFile, file + ": " + std::strerror(errno));
    return 0;
}

const char* CommandWord(Command c) {
    switch (c) {
        case Command::Info: return "info";
        case Command::Load: return "load";
        case Command::Read: return "read";
        case Command::Verify: return "verify";
        default: return "";
    }
}

int RunDeviceCommand(const Options& o) {
    std::string file;
    struct stat st;
    if (!o.file.empty()) {
        if (int rc = CheckFile(o.command, o.file)) return rc;
        file = Absolute(o.file);
    }
    std::string logPath = zl::RecordLog::DefaultPath();
    if (o.log) {
        if (!ValidUtf8(*o.log)) return Fail(kExitFile, "--log: the name is not valid UTF-8");
        if (stat(o.log->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Fail(kExitFile, "--log " + *o.log + " is a folder");
        logPath = Absolute(*o.log);
    }
    for (const std::string& port : o.ports)
        if (!ValidUtf8(port)) return Fail(kExitUsage, "--port: the name is not valid UTF-8 and resolves to nothing");

    // The user's profile is read before the ports are chosen, which may give this run a
    // port directory of its own. QSettings is made here, on one thread, for every station.
    std::vector<std::unique_ptr<zl::Profile>> profiles;
    for (size_t i = 0; i < o.ports.size(); ++i) profiles.push_back(zl::MakeQSettingsProfile(u"BootloaderZL"));
    std::vector<std::u16string> comNames;
    std::vector<std::string> devicePaths;
    for (const std::string& port : o.ports) {
        std::u16string comName;
        std::string devicePath, error;
        if (int rc = ChoosePort(port, comName, devicePath, error)) {
            ReleasePrivatePorts();
            return Fail(rc, error);
        }
        for (const std::u16string& taken : comNames)
            if (taken == comName) {
                ReleasePrivatePorts();
                return Fail(kExitUsage, "--port " + port + ": " + zl::ToUtf8(comName.substr(4)) +
                                            " is given twice (one station per port)");
            }
        comNames.push_back(comName);
        devicePaths.push_back(devicePath);
    }
    const bool several = comNames.size() > 1;
    // A live line per state cannot be shared: several stations print plain lines.
    const Reporter::Mode mode = o.json ? Reporter::Mode::Json
                                : isatty(STDOUT_FILENO) && !several ? Reporter::Mode::Terminal
                                                                    : Reporter::Mode::Plain;
    std::vector<std::unique_ptr<Reporter>> outs;
    for (const std::u16string& comName : comNames) {
        outs.push_back(std::make_unique<Reporter>(mode, zl::ToUtf8(comName.substr(4))));
        if (several) outs.back()->MarkStation();
    }
    zl::RecordLog records(logPath, "bzl", BZL_VERSION, [&outs](const std::string& problem) { outs.front()->Note(problem); });

    int64_t fileSize = -1;
    if (!file.empty() && stat(file.c_str(), &st) == 0) fileSize = st.st_size;
    std::vector<std::unique_ptr<Station>> stations(comNames.size());
    std::vector<int> codes(comNames.size(), kExitOk);
    std::vector<std::optional<std::chrono::steady_clock::time_point>> failedAt(comNames.size());
    for (size_t i = 0; i < comNames.size(); ++i) {
        Reporter& out = *outs[i];
        out.Start(CommandWord(o.command), devicePaths[i], file, o.count);
        const std::string shortName = zl::ToUtf8(comNames[i].substr(4));
        if (const std::string problem = PortProblem(shortName, devicePaths[i]); !problem.empty()) {
            out.Note(problem);
            out.Result(kExitPort, 0, 0, "port unavailable");
            codes[i] = kExitPort;
            failedAt[i] = std::chrono::steady_clock::now();
            continue;
        }
        Job job;
        job.command = o.command;
        job.port = comNames[i];
        job.device = o.device;
        // Readout and verify exist for the PIC32 kind only.
        if (o.command == Command::Read || o.command == Command::Verify) job.device = 0;
        job.file = zl::FromUtf8(file);
        job.fileSize = fileSize;
        job.count = o.count;
        job.force = o.force;
        job.verify = o.verify;
        job.timeout = o.timeout;
        job.english = o.english;
        stations[i] = std::make_unique<Station>(std::move(job), std::move(profiles[i]), out, records);
    }
    // Each station on a thread of its own; they start one after another (Station::Run).
    std::vector<std::thread> threads;
    for (size_t i = 0; i < stations.size(); ++i)
        if (stations[i])
            threads.emplace_back([&, i] {
                codes[i] = stations[i]->Run(g_interrupt);
                failedAt[i] = stations[i]->FirstFailure();
            });
    for (std::thread& t : threads) t.join();
    stations.clear();
    ReleasePrivatePorts();
    if (!several) return codes[0];

    // The run's code: interrupted, else that of the first device that failed on any station.
    int code = kExitOk;
    size_t first = codes.size();
    for (size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == kExitInterrupted) code = kExitInterrupted;
        if (codes[i] != kExitOk && codes[i] != kExitInterrupted && failedAt[i] &&
            (first == codes.size() || *failedAt[i] < *failedAt[first]))
            first = i;
    }
    if (code != kExitInterrupted && first < codes.size()) code = codes[first];
    const std::string firstPort = first < codes.size() ? zl::ToUtf8(comNames[first].substr(4)) : "";
    if (o.json) {
        std::printf("{\"v\":%d,\"event\":\"summary\",\"stations\":%zu,\"code\":%d,\"first_failure\":%s}\n", kEventSchema,
                    codes.size(), code, first < codes.size() ? ("\"" + firstPort + "\"").c_str() : "null");
    } else {
        std::printf("%zu stations: exit code %d%s\n", codes.size(), code,
                    first < codes.size() ? (", first device failed on " + firstPort).c_str() : "");
    }
    std::fflush(stdout);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Options o;
    std::string error;
    if (!ParseArgs(args, o, error)) return Fail(kExitUsage, error);
    if (o.version) return std::printf("bzl %s\n", BZL_VERSION), 0;
    if (o.help) return std::fputs(HelpText(o.command).c_str(), stdout), 0;

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    switch (o.command) {
        case Command::Ports: return RunPorts(o);
        case Command::PortsLink: return RunPortsLink(o);
        case Command::PortsUnlink: return RunPortsUnlink(o);
        default: return RunDeviceCommand(o);
    }
}
