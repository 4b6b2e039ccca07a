#include "jobs/job_file.h"

#include "platform/file.h"
#include "platform/text_convert.h"
#include "protocol/transfer_util.h"
#include "records/json.h"
#include "records/json_reader.h"
#include "records/sha256.h"
#include "res/resources.h"

namespace zl {
namespace {

constexpr int64_t kMaxJobFile = 64 * 1024;

bool IsAbsolute(const std::string& p) {
    return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() > 2 && p[1] == ':' && (p[2] == '/' || p[2] == '\\'));
}

std::string FolderOf(const std::string& p) {
    const size_t slash = p.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

bool IsHex64(const std::string& s) {
    if (s.size() != 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool Fail(JobProblem& problem, JobProblemKind kind, std::string message) {
    problem = {kind, std::move(message)};
    return false;
}

// The whole file, when it is a readable regular file of at most limit bytes.
bool ReadWhole(const std::string& path, int64_t limit, std::string& bytes, std::string& reason) {
    FileError error;
    std::unique_ptr<File> file = OpenFileForRead(FromUtf8(path), error);
    if (!file) return reason = ToUtf8(FileErrorText(error, true)), false;
    const int64_t length = file->Length();
    if (length < 0 || length > limit) return reason = length < 0 ? "cannot tell its size" : "too large for a job file", false;
    bytes.resize(static_cast<size_t>(length));
    size_t got = 0;
    while (got < bytes.size()) {
        const long n = file->Read(reinterpret_cast<uint8_t*>(&bytes[got]), bytes.size() - got);
        if (n <= 0) return reason = "it could not be read whole", false;
        got += static_cast<size_t>(n);
    }
    return true;
}

// The job's fields from its parsed object; false with the first field that is wrong.
bool TakeFields(const JsonValue& root, JobFile& job, std::string& wrong) {
    if (!root.IsObject()) return wrong = "it is not a JSON object", false;
    if (!root["schema"].IsNumber() || root["schema"].Number() != kJobSchema)
        return wrong = "\"schema\" must be " + std::to_string(kJobSchema), false;
    for (const char* key : {"name", "device", "file", "sha256"})
        if (!root[key].IsString()) return wrong = std::string("\"") + key + "\" is missing or not a string", false;
    job.name = root["name"].String();
    job.file = root["file"].String();
    job.sha256 = root["sha256"].String();
    const std::string device = root["device"].String();
    const auto& names = DeviceTypeNames();
    job.device = -1;
    for (size_t i = 0; i < names.size(); ++i)
        if (ToUtf8(names[i]) == device) job.device = static_cast<int>(i);
    if (job.device < 0) return wrong = "\"device\": unknown device \"" + device + "\"", false;
    if (job.file.empty()) return wrong = "\"file\" is empty", false;
    if (!IsHex64(job.sha256)) return wrong = "\"sha256\" must be 64 lowercase hex digits", false;
    const double size = root["size"].Number();
    if (!root["size"].IsNumber() || size < 1 || size > 1e12 || size != static_cast<double>(static_cast<int64_t>(size)))
        return wrong = "\"size\" is missing or not a whole number of bytes", false;
    job.size = static_cast<int64_t>(size);
    if (root["verify"].Exists() && !root["verify"].Is(JsonType::Bool)) return wrong = "\"verify\" must be true or false", false;
    job.verify = root["verify"].Bool();
    const JsonValue expect = root["expect_firmware"];
    if (expect.Exists() && !expect.IsNull()) {
        if (!expect.IsObject() || !expect["name"].IsString() || !expect["version"].IsString() || !expect["date"].IsString())
            return wrong = "\"expect_firmware\" must hold \"name\", \"version\" and \"date\"", false;
        job.expectFirmware = FirmwareId{expect["name"].String(), expect["version"].String(), expect["date"].String()};
    }
    return true;
}

}  // namespace

bool HashFile(const std::string& path, std::string& sha256, int64_t& size, std::string& reason) {
    FileError error;
    std::unique_ptr<File> file = OpenFileForRead(FromUtf8(path), error);
    if (!file) return reason = ToUtf8(FileErrorText(error, true)), false;
    Sha256 digest;
    uint8_t buf[64 * 1024];
    size = 0;
    long n;
    while ((n = file->Read(buf, sizeof buf)) > 0) {
        digest.Update(buf, static_cast<size_t>(n));
        size += n;
    }
    if (n < 0) return reason = ToUtf8(FileErrorText(file->LastError(), true)), false;
    sha256 = digest.HexDigest();
    return true;
}

bool ReadJobFile(const std::string& path, JobFile& job, JobProblem& problem) {
    std::string text, reason;
    if (!ReadWhole(path, kMaxJobFile, text, reason)) return Fail(problem, JobProblemKind::File, "job " + path + ": " + reason);
    JsonDocument doc;
    if (!doc.Parse(text)) return Fail(problem, JobProblemKind::Syntax, "job " + path + " is not JSON (" + doc.Error() + ")");
    job = JobFile{};
    std::string wrong;
    if (!TakeFields(doc.Root(), job, wrong)) return Fail(problem, JobProblemKind::Syntax, "job " + path + ": " + wrong);
    job.filePath = IsAbsolute(job.file) ? job.file : FolderOf(path) + job.file;
    Sha256 self;
    self.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    job.jobSha256 = self.HexDigest();
    return true;
}

bool CheckJobFirmware(const JobFile& job, JobProblem& problem) {
    std::string sha, reason;
    int64_t size = 0;
    if (!HashFile(job.filePath, sha, size, reason))
        return Fail(problem, JobProblemKind::File, "the job's firmware " + job.filePath + ": " + reason);
    if (sha != job.sha256 || size != job.size)
        return Fail(problem, JobProblemKind::File,
                    "the job's firmware " + job.filePath + " is not the one the job pins: its SHA-256 is " + sha + " (" +
                        std::to_string(size) + " bytes), the job's is " + job.sha256 + " (" + std::to_string(job.size) +
                        " bytes); nothing was sent");
    return true;
}

std::string FormatJobFile(const JobFile& job) {
    JsonObject o;
    o.Int("schema", kJobSchema)
        .Str("name", job.name)
        .Str("device", DeviceTypeNames()[static_cast<size_t>(job.device)])
        .Str("file", job.file)
        .Str("sha256", job.sha256)
        .Int("size", job.size)
        .Bool("verify", job.verify);
    if (job.expectFirmware) {
        JsonObject f;
        f.Str("name", job.expectFirmware->name).Str("version", job.expectFirmware->version).Str("date", job.expectFirmware->date);
        o.Raw("expect_firmware", f.Text());
    }
    return o.Text() + "\n";
}

std::optional<FirmwareId> ParseFirmwareTriple(const std::string& text) {
    const size_t a = text.find(',');
    const size_t b = a == std::string::npos ? a : text.find(',', a + 1);
    if (b == std::string::npos || text.find(',', b + 1) != std::string::npos) return std::nullopt;
    FirmwareId id{Trimmed(text.substr(0, a)), Trimmed(text.substr(a + 1, b - a - 1)), Trimmed(text.substr(b + 1))};
    if (id.name.empty() || id.version.empty() || id.date.empty()) return std::nullopt;
    return id;
}

}  // namespace zl
