#include "cli/job_command.h"

#include "cli/args.h"
#include "cli/output.h"
#include "cli/station.h"
#include "cli/system.h"
#include "platform/file.h"
#include "platform/text_convert.h"
#include "res/resources.h"

namespace zl::cli {
namespace {

struct MakeOptions {
    std::string job, file, name;
    int device = -1;
    bool verify = false;
    std::optional<FirmwareId> expect;
};

int Fail(int code, const std::string& text) {
    WriteErr("bzl: " + Printable(text) + "\n");
    return code;
}

bool SetMakeOption(const std::string& name, const std::string& value, MakeOptions& o, std::string& error) {
    if (name == "--file") {
        if (value.empty()) return error = "--file needs the firmware file", false;
        o.file = value;
    } else if (name == "--device") {
        return ParseDevice(value, o.device, error);
    } else if (name == "--name") {
        o.name = value;
    } else if (name == "--expect-firmware") {
        o.expect = ParseFirmwareTriple(value);
        if (!o.expect) return error = "--expect-firmware \"" + value + "\": give NAME,VERSION,DATE as the device reports them", false;
    } else {
        return error = "job make takes no " + name + "; see bzl job --help", false;
    }
    return true;
}

bool ParseMake(const std::vector<std::string>& args, MakeOptions& o, std::string& error) {
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-') {
            if (!o.job.empty()) return error = "one JOB only (\"" + a + "\" is one too many)", false;
            o.job = a;
            continue;
        }
        if (a == "--verify") {
            o.verify = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        std::string value;
        if (eq != std::string::npos) value = a.substr(eq + 1);
        else if (i + 1 < args.size()) value = args[++i];
        else return error = name + " needs a value", false;
        if (!SetMakeOption(name, value, o, error)) return false;
    }
    if (o.job.empty() || o.file.empty() || o.device < 0)
        return error = "usage: bzl job make JOB --file FW --device D [--name TEXT] [--verify] [--expect-firmware NAME,VERSION,DATE]", false;
    if (o.expect && o.device != 0)
        return error = "--expect-firmware: only the PIC32 kind (Corvel 6) reports its firmware right after a load", false;
    return true;
}

// The firmware's path as the job names it: relative to the job's folder when it lies
// inside it (the two can move together), else absolute.
std::string PathForJob(const std::string& jobPath, const std::string& firmwarePath) {
    const std::string folder = FolderOf(AbsolutePath(jobPath));
    const std::string firmware = AbsolutePath(firmwarePath);
    if (!folder.empty() && firmware.compare(0, folder.size(), folder) == 0) return firmware.substr(folder.size());
    return firmware;
}

int Make(const std::vector<std::string>& args) {
    MakeOptions o;
    std::string error;
    if (!ParseMake(args, o, error)) return Fail(kExitUsage, error);
    for (const std::string* s : {&o.job, &o.file, &o.name})
        if (ToUtf8(FromUtf8(*s)) != *s) return Fail(kExitUsage, "\"" + *s + "\" is not valid UTF-8");
    JobFile job;
    job.device = o.device;
    job.verify = o.verify;
    job.expectFirmware = o.expect;
    std::string reason;
    if (!HashFile(o.file, job.sha256, job.size, reason)) return Fail(kExitFile, o.file + ": " + reason);
    if (job.size == 0) return Fail(kExitFile, o.file + " is empty");
    job.file = PathForJob(o.job, o.file);
    const std::string base = o.file.substr(o.file.find_last_of("/\\") + 1);
    job.name = o.name.empty() ? ToUtf8(DeviceTypeNames()[static_cast<size_t>(o.device)]) + " - " + base : o.name;

    // Written beside the target and put in its place in one step: a job is whole or absent.
    const std::string text = FormatJobFile(job);
    FileError fe;
    std::u16string temp;
    std::unique_ptr<File> out = CreateFileBeside(FromUtf8(o.job), temp, fe);
    if (!out) return Fail(kExitFile, o.job + ": " + ToUtf8(fe.detail.empty() ? u"cannot be created" : fe.detail));
    const bool written = out->Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()) && out->Close();
    if (!written || !ReplaceFile(temp, FromUtf8(o.job), fe)) {
        RemoveFile(temp);
        return Fail(kExitFile, o.job + ": the job could not be written");
    }
    WriteOut("job " + Printable(o.job) + ": " + Printable(job.name) + ", " + Printable(job.file) + ", sha256 " +
             job.sha256 + ", " + std::to_string(job.size) + " bytes\n");
    return kExitOk;
}

int Show(const std::vector<std::string>& args) {
    if (args.size() != 2) return Fail(kExitUsage, "usage: bzl job show JOB");
    JobFile job;
    JobProblem problem;
    if (!ReadJobFile(args[1], job, problem))
        return Fail(problem.kind == JobProblemKind::Syntax ? kExitUsage : kExitFile, problem.message);
    std::string text = "name:     " + Printable(job.name) + "\n" +
                       "device:   " + ToUtf8(DeviceTypeNames()[static_cast<size_t>(job.device)]) + "\n" +
                       "file:     " + Printable(job.file) + (job.file != job.filePath ? "  (" + Printable(job.filePath) + ")" : "") + "\n" +
                       "sha256:   " + job.sha256 + "\n" +
                       "size:     " + std::to_string(job.size) + " bytes\n" +
                       "verify:   " + (job.verify ? "yes" : "no") + "\n";
    if (job.expectFirmware)
        text += "expect:   " + Printable(job.expectFirmware->name) + ", " + Printable(job.expectFirmware->version) + ", " +
                Printable(job.expectFirmware->date) + "\n";
    text += "job sha256: " + job.jobSha256 + "\n";
    const bool pinned = CheckJobFirmware(job, problem);
    text += std::string("firmware: ") + (pinned ? "present, size and SHA-256 as pinned" : "NOT as pinned") + "\n";
    WriteOut(text);
    return pinned ? kExitOk : Fail(kExitFile, problem.message);
}

}  // namespace

int OpenJob(const std::string& path, JobFile& job) {
    if (ToUtf8(FromUtf8(path)) != path) return Fail(kExitUsage, "--job: the name is not valid UTF-8");
    JobProblem problem;
    if (!ReadJobFile(path, job, problem) || !CheckJobFirmware(job, problem))
        return Fail(problem.kind == JobProblemKind::Syntax ? kExitUsage : kExitFile, problem.message);
    return kExitOk;
}

std::string JobHelpText() {
    return "usage: bzl job make JOB --file FW --device D [--name TEXT] [--verify] [--expect-firmware NAME,VERSION,DATE]\n"
           "       bzl job show JOB\n\n"
           "A job (*.zljob) fixes what a line loads: the firmware file pinned by its SHA-256 and size, the\n"
           "device type, whether each load is verified, and the firmware the device must report after it.\n"
           "bzl load --job JOB takes device and file from the job and refuses a file that is not the one\n"
           "pinned before any device sees a load command (exit 7).\n\n"
           "  make   writes JOB; FW is named relative to the job's folder when it lies inside it\n"
           "         --name TEXT     the job's name (default: the device type and the file's name)\n"
           "         --verify        compare the flash with the file after each load\n"
           "         --expect-firmware NAME,VERSION,DATE  a load counts as failed (firmware-mismatch)\n"
           "                         unless the device then reports this firmware (PIC32 kind)\n"
           "  show   prints the job and checks its firmware file (exit 7 when it is not as pinned)\n\n"
           "Exit codes: 0 good; 1 usage or a job file that is no valid job; 7 a file cannot be read or\n"
           "written, or the firmware is not the one pinned.\n";
}

int RunJobCommand(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "-h") return WriteOut(JobHelpText()), args.empty() ? kExitUsage : kExitOk;
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") return WriteOut(JobHelpText()), kExitOk;
    if (args[0] == "make") return Make(args);
    if (args[0] == "show") return Show(args);
    return Fail(kExitUsage, "unknown job command \"" + args[0] + "\" (make, show); see bzl job --help");
}

}  // namespace zl::cli
