// The record of every device: each load, readout and verify that reached the device
// appends one line to records.ndjson. Writing never throws and never waits for more
// than the file: a failure is reported once through the problem callback.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "platform/transfer.h"
#include "records/record_line.h"

namespace zl {

class RecordLog : public RecordSink {
public:
    using ProblemReport = std::function<void(const std::string& message)>;

    // path: the record file (UTF-8); program and version name what writes it.
    RecordLog(std::string path, std::string program, std::string version, ProblemReport report);

    // $XDG_STATE_HOME/Hallwyn/BootloaderZL/records.ndjson (default ~/.local/state/...).
    static std::string DefaultPath();

    // Appends the record of r when it reached the device; true when the line was
    // written or none was due. Callable from any thread.
    bool Write(const TransferRecord& r, const RecordTags& tags = {});
    void Keep(const TransferRecord& r) override { Write(r); }

    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::string program_;
    std::string version_;
    ProblemReport report_;
    std::atomic<bool> reported_{false};
};

}  // namespace zl
