// bzl: the command line on the dialog core. See bzl --help.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/args.h"
#include "cli/job_command.h"
#include "cli/output.h"
#include "cli/port_choice.h"
#include "cli/ports_command.h"
#include "cli/report_command.h"
#include "cli/collect_command.h"
#include "cli/serve_options.h"
#include "cli/station.h"
#include "cli/system.h"
#include "cli/unit_reader.h"
#include "platform/serial.h"
#include "platform/text_convert.h"
#include "ports/com_name.h"
#include "records/json.h"
#include "records/record_log.h"

namespace {

using namespace zl::cli;

std::atomic<int> g_interrupt{0};
bool g_leftRunning = false;  // a station's thread still runs: end without destructors

bool ValidUtf8(const std::string& s) { return zl::ToUtf8(zl::FromUtf8(s)) == s && s.find('\0') == std::string::npos; }

int Fail(int code, const std::string& text) {
    WriteErr("bzl: " + Printable(text) + "\n");
    return code;
}

// FILE as the command needs it: an existing readable regular file to load or verify, a
// writable place for a readout. 0, or exit code 7 with the reason printed.
int CheckFile(Command command, const std::string& file) {
    if (!ValidUtf8(file)) return Fail(kExitFile, "FILE: the name is not valid UTF-8; rename the file");
    int64_t size = 0;
    std::string reason;
    const PathKind kind = Inspect(file, size, reason);
    if (command == Command::Read) {
        if (kind == PathKind::Folder) return Fail(kExitFile, file + " is a folder; give the file to read the flash into");
        if (kind == PathKind::Other) return Fail(kExitFile, file + " is not a regular file");
        const std::string folder = FolderOf(AbsolutePath(file));
        if (!WritableFolder(folder, reason)) return Fail(kExitFile, "cannot write into " + folder + ": " + reason);
        return 0;
    }
    if (kind == PathKind::Missing) return Fail(kExitFile, file + ": " + reason);
    if (kind == PathKind::Folder) return Fail(kExitFile, file + " is a folder, not a firmware file");
    if (kind == PathKind::Other) return Fail(kExitFile, file + " is not a regular file");
    if (!Readable(file, reason)) return Fail(kExitFile, file + ": " + reason);
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

// Each --port's COM name and device path; the exit code of a bad one (told) or 0.
int ChoosePorts(const Options& o, std::vector<std::u16string>& comNames, std::vector<std::string>& devicePaths) {
    for (const std::string& port : o.ports) {
        std::u16string comName;
        std::string devicePath, error;
        if (int rc = ChoosePort(port, comName, devicePath, error)) return Fail(rc, error);
        for (const std::u16string& taken : comNames)
            if (taken == comName)
                return Fail(kExitUsage, "--port " + port + ": " + zl::ToUtf8(zl::ShortPortName(comName)) +
                                            " is given twice (one station per port)");
        comNames.push_back(comName);
        devicePaths.push_back(devicePath);
    }
    return 0;
}

// The run's code over several stations, printed as its last line: interrupted, else that
// of the first device that failed on any station.
int Summarize(const Options& o, const std::vector<int>& codes,
              const std::vector<std::optional<std::chrono::steady_clock::time_point>>& failedAt,
              const std::vector<std::u16string>& comNames) {
    int code = kExitOk;
    size_t first = codes.size();
    for (size_t i = 0; i < codes.size(); ++i) {
        if (codes[i] == kExitInterrupted) code = kExitInterrupted;
        if (codes[i] != kExitOk && codes[i] != kExitInterrupted && failedAt[i] &&
            (first == codes.size() || *failedAt[i] < *failedAt[first]))
            first = i;
    }
    if (code != kExitInterrupted && first < codes.size()) code = codes[first];
    const std::string firstPort = first < codes.size() ? zl::ToUtf8(zl::ShortPortName(comNames[first])) : "";
    if (o.json) {
        zl::JsonObject summary;
        summary.Int("v", kEventSchema).Str("event", "summary").Int("stations", static_cast<int64_t>(codes.size())).Int("code", code);
        if (first < codes.size()) summary.Str("first_failure", firstPort);
        else summary.Null("first_failure");
        WriteOut(summary.Text() + "\n");
    } else {
        WriteOut(std::to_string(codes.size()) + " stations: exit code " + std::to_string(code) +
                 (first < codes.size() ? ", first device failed on " + firstPort : "") + "\n");
    }
    std::fflush(stdout);
    return code;
}

// Each station on a thread of its own; they start one after another (Station::Run).
void RunStations(std::vector<std::unique_ptr<Station>>& stations, std::vector<int>& codes,
                 std::vector<std::optional<std::chrono::steady_clock::time_point>>& failedAt) {
    std::vector<std::thread> threads;
    for (size_t i = 0; i < stations.size(); ++i)
        if (stations[i])
            threads.emplace_back([&, i] {
                codes[i] = stations[i]->Run(g_interrupt);
                failedAt[i] = stations[i]->FirstFailure();
            });
    for (std::thread& t : threads) t.join();
}

// Ends every station's dialog and the server, bounded. A thread that did not end in time
// is left what it may still touch, and the process ends without destroying anything (main).
void EndStations(std::vector<std::unique_ptr<Station>>& stations, std::vector<std::unique_ptr<Reporter>>& outs,
                 std::unique_ptr<zl::RecordLog>& records, std::unique_ptr<zl::serve::StationBoard>& board,
                 std::unique_ptr<zl::serve::HttpServer>& server) {
    bool ended = true;
    for (auto& station : stations)
        if (station && !station->Shutdown()) ended = false;
    if (!StopServe(server)) {
        outs.front()->Note("the HTTP server did not end in time; bzl ends without waiting for it");
        (void)board.release();
        g_leftRunning = true;
    }
    if (ended) return stations.clear();
    outs.front()->Note("a station's dialog did not end in time; bzl ends without waiting for it");
    for (auto& station : stations) (void)station.release();
    for (auto& out : outs) (void)out.release();
    (void)records.release();
    (void)board.release();
    g_leftRunning = true;
}

// What one station is to do, from the options (and the production job, if any).
Job StationJob(const Options& o, const std::u16string& port, const std::string& file, int64_t fileSize,
               const zl::JobFile* lineJob) {
    Job job;
    job.command = o.command;
    job.port = port;
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
    if (lineJob) {
        job.pinnedSha256 = lineJob->sha256;
        job.expectFirmware = lineJob->expectFirmware;
        job.tags.jobName = lineJob->name;
        job.tags.jobSha256 = lineJob->jobSha256;
    }
    if (o.unit) job.tags.unitId = *o.unit;
    return job;
}

int RunDeviceCommand(Options o) {
    // --serve's address and token are checked before anything else is looked at.
    zl::serve::ServeSetup serveSetup;
    if (std::string error; !PrepareServe(o, serveSetup, error)) return Fail(kExitUsage, error);
    std::string file;
    int64_t size = 0;
    std::string reason;
    // A job gives the device type, the file and the verify, and pins the file by its hash:
    // a file that is not the one pinned is refused before any device is touched.
    std::optional<zl::JobFile> lineJob;
    if (o.job) {
        lineJob.emplace();
        if (int rc = OpenJob(*o.job, *lineJob)) return rc;
        o.device = lineJob->device;
        o.verify = lineJob->verify;
        o.file = lineJob->filePath;
    }
    if (!o.file.empty()) {
        if (int rc = CheckFile(o.command, o.file)) return rc;
        file = AbsolutePath(o.file);
    }
    std::string logPath = zl::RecordLog::DefaultPath();
    if (o.log) {
        if (!ValidUtf8(*o.log)) return Fail(kExitFile, "--log: the name is not valid UTF-8");
        if (Inspect(*o.log, size, reason) == PathKind::Folder) return Fail(kExitFile, "--log " + *o.log + " is a folder");
        logPath = AbsolutePath(*o.log);
    }
    serveSetup.recordsPath = logPath;
    for (const std::string& port : o.ports)
        if (!ValidUtf8(port)) return Fail(kExitUsage, "--port: the name is not valid UTF-8 and resolves to nothing");

    // The profiles are made here, on one thread, for every station.
    std::vector<std::unique_ptr<zl::Profile>> profiles;
    for (size_t i = 0; i < o.ports.size(); ++i) profiles.push_back(UserProfile());
    std::vector<std::u16string> comNames;
    std::vector<std::string> devicePaths;
    if (int rc = ChoosePorts(o, comNames, devicePaths)) return rc;
    const bool several = comNames.size() > 1;
    // A live line per state cannot be shared: several stations print plain lines.
    const Reporter::Mode mode = o.json ? Reporter::Mode::Json
                                : !several && LiveTerminal() ? Reporter::Mode::Terminal
                                                                    : Reporter::Mode::Plain;
    std::vector<std::unique_ptr<Reporter>> outs;
    for (const std::u16string& comName : comNames) {
        outs.push_back(std::make_unique<Reporter>(mode, zl::ToUtf8(zl::ShortPortName(comName))));
        if (several) outs.back()->MarkStation();
        outs.back()->SetEnglish(o.english);
    }
    Reporter* firstOut = outs.front().get();
    std::unique_ptr<UnitReader> units;
    if (o.askUnit) units = std::make_unique<UnitReader>();
    auto records = std::make_unique<zl::RecordLog>(logPath, "bzl", BZL_VERSION,
                                                   [firstOut](const std::string& problem) { firstOut->Note(problem); });

    int64_t fileSize = -1;
    if (!file.empty() && Inspect(file, size, reason) == PathKind::File) fileSize = size;
    auto board = std::make_unique<zl::serve::StationBoard>("bzl", BZL_VERSION, lineJob ? lineJob->jobSha256 : "");
    std::vector<std::unique_ptr<Station>> stations(comNames.size());
    std::vector<int> codes(comNames.size(), kExitOk);
    std::vector<std::optional<std::chrono::steady_clock::time_point>> failedAt(comNames.size());
    for (size_t i = 0; i < comNames.size(); ++i) {
        Reporter& out = *outs[i];
        out.Start(CommandWord(o.command), devicePaths[i], file, o.count);
        const std::string shortName = zl::ToUtf8(zl::ShortPortName(comNames[i]));
        if (const std::string problem = PortProblem(shortName, devicePaths[i]); !problem.empty()) {
            out.Note(problem);
            out.Result(kExitPort, 0, 0, "port unavailable");
            codes[i] = kExitPort;
            failedAt[i] = std::chrono::steady_clock::now();
            continue;
        }
        Job job = StationJob(o, comNames[i], file, fileSize, lineJob ? &*lineJob : nullptr);
        job.units = units.get();
        if (o.serve) job.board = {board.get(), board->AddStation(shortName, zl::ToUtf8(comNames[i]))};
        stations[i] = std::make_unique<Station>(std::move(job), std::move(profiles[i]), out, *records);
    }
    std::unique_ptr<zl::serve::HttpServer> server;
    if (std::string error; o.serve && !(server = StartServe(serveSetup, *board, error))) return Fail(kExitUsage, error);
    RunStations(stations, codes, failedAt);
    EndStations(stations, outs, records, board, server);
    if (!several) return codes[0];
    return Summarize(o, codes, failedAt, comNames);
}

int Run(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "report") return RunReport({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "job") return RunJobCommand({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "collect") return RunCollect({args.begin() + 1, args.end()}, g_interrupt);
    Options o;
    std::string error;
    if (!ParseArgs(args, o, error)) return Fail(kExitUsage, error);
    if (o.version) return std::printf("bzl %s\n", BZL_VERSION), 0;
    if (o.help) return WriteOut(HelpText(o.command)), 0;
    switch (o.command) {
        case Command::Ports: return RunPorts(o);
        case Command::PortsLink: return RunPortsLink(o);
        case Command::PortsUnlink: return RunPortsUnlink(o);
        default: return RunDeviceCommand(o);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = Arguments(argc, argv);
    PrepareProcess(g_interrupt);
    const int code = Run(args);
    std::fflush(stdout);
    std::fflush(stderr);
    RunEnded();
    if (g_leftRunning) {
        zl::ReleaseExclusiveMarks();
        std::_Exit(code);
    }
    return code;
}
