#include "records/record_log.h"

#include <chrono>

#include "platform/append_file.h"
#include "platform/serial.h"
#include "records/record_line.h"
#include "records/uuid7.h"

namespace zl {

RecordLog::RecordLog(std::string path, std::string program, std::string version, ProblemReport report)
    : path_(std::move(path)), program_(std::move(program)), version_(std::move(version)), report_(std::move(report)) {}

std::string RecordLog::DefaultPath() { return UserStateDirectory() + "/Hallwyn/BootloaderZL/records.ndjson"; }

bool RecordLog::Write(const TransferRecord& r, const RecordTags& tags) {
    if (!r.reachedDevice) return true;
    using namespace std::chrono;
    RecordContext c;
    const int64_t ago = duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count() - r.startedUs;
    c.startUtcMs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() - ago / 1000;
    c.host = HostName();
    c.program = program_;
    c.version = version_;
    c.devicePath = ResolvePortPath(r.port);
    c.id = NewUuid7(c.startUtcMs);
    c.tags = tags;
    std::string error;
    if (AppendToFile(path_, FormatRecord(r, c), error)) return true;
    if (!reported_.exchange(true) && report_)
        report_("the record could not be written to " + path_ + ": " + error + " (reported once; transfers go on)");
    return false;
}

}  // namespace zl
