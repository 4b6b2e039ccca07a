#include "records/record_line.h"

#include <algorithm>
#include <cstdio>

#include "platform/text_convert.h"
#include "ports/com_name.h"
#include "protocol/firmware_id.h"
#include "records/json.h"

namespace zl {
namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

const char* UnitName(const TransferRecord& r) {
    switch (r.operation) {
        case Operation::Load: return r.deviceSel == 0 ? "dots" : "pieces";
        case Operation::Readout: return "packets";
        case Operation::Verify: return "blocks";
    }
    return "";
}

std::string FirmwareJson(const std::u16string& panel) {
    const std::optional<FirmwareId> id = ParseFirmwareId(panel);
    if (!id) return "null";
    JsonObject o;
    o.Str("name", id->name).Str("version", id->version).Str("date", id->date);
    return o.Text();
}

// The blocks a verify found different, as ranges of blocks and of their bytes (the
// device marks one per 512-byte block).
std::string MismatchJson(const std::vector<uint32_t>& blocks) {
    std::string out = "[";
    for (const auto& [first, last] : MismatchRanges(blocks)) {
        if (out.size() > 1) out += ",";
        out += "{\"blocks\":[" + std::to_string(first) + "," + std::to_string(last) + "],\"bytes\":[" +
               std::to_string(uint64_t{first} * 512) + "," + std::to_string(uint64_t{last} * 512 + 511) + "]}";
    }
    return out + "]";
}

std::string PhasesJson(const TransferRecord& r) {
    JsonObject phases;
    for (Phase p : {Phase::Send, Phase::Program, Phase::Receive, Phase::Compare}) {
        const int64_t us = r.phaseUs[static_cast<size_t>(p)];
        if (us >= 0) phases.Real(PhaseName(p), static_cast<double>(us) / 1e6, 3);
    }
    return phases.Text();
}

}  // namespace

const char* FailureName(Cause cause) {
    switch (cause) {
        case Cause::None: return "";
        case Cause::StartRefused: return "start-refused";
        case Cause::Length: return "length";
        case Cause::Incomplete:
        case Cause::NoData:
        case Cause::DeviceErrors: return "incomplete";
        case Cause::NoAnswer:
        case Cause::NoReport:
        case Cause::MakeTimeout: return "timeout";
        case Cause::DeviceGone: return "device-gone";
        case Cause::VerifyMismatch: return "verify-mismatch";
        case Cause::Incompatible: return "incompatible";
        case Cause::FileError: return "file-error";
        case Cause::FileChanged: return "file-changed";
        case Cause::FirmwareMismatch: return "firmware-mismatch";
    }
    return "";
}

std::vector<std::pair<uint32_t, uint32_t>> MismatchRanges(std::vector<uint32_t> blocks) {
    std::sort(blocks.begin(), blocks.end());
    std::vector<std::pair<uint32_t, uint32_t>> ranges;
    for (uint32_t b : blocks) {
        if (!ranges.empty() && b <= ranges.back().second + 1) ranges.back().second = std::max(ranges.back().second, b);
        else ranges.emplace_back(b, b);
    }
    return ranges;
}

std::string FormatUtc(int64_t ms) {
    const int64_t days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
    const int64_t rest = ms - days * 86400000;
    int64_t y;
    unsigned mo, d;
    CivilFromDays(days, y, mo, d);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<long long>(y), mo, d,
                  static_cast<int>(rest / 3600000), static_cast<int>(rest / 60000 % 60),
                  static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
    return buf;
}

std::string FormatRecord(const TransferRecord& r, const RecordContext& c) {
    const double seconds = static_cast<double>(r.durationUs) / 1e6;
    const double lineRate = r.baud / 10.0;  // bytes per second: 8N1 is ten bits a byte
    const double rate = seconds > 0 ? static_cast<double>(r.bytes) / seconds : 0.0;

    JsonObject panels;
    panels.Str("firmware_before", r.firmwareBefore);
    if (r.operation == Operation::Load) panels.Str("firmware_after", r.firmwareAfter);
    JsonObject identity;
    identity.Str("manufacturer", Trimmed(ToUtf8(r.manufacturer)))
        .Str("hardware", Trimmed(ToUtf8(r.hardware)))
        .Raw("firmware_before", FirmwareJson(r.firmwareBefore))
        .Raw("firmware_after", r.operation == Operation::Load ? FirmwareJson(r.firmwareAfter) : "null")
        .Raw("panels", panels.Text());

    JsonObject file;
    file.Str("path", r.filePath);
    if (r.fileSize >= 0) file.Int("size", r.fileSize);
    else file.Null("size");
    if (!r.fileSha256.empty()) file.Str("sha256", r.fileSha256);
    else file.Null("sha256");

    JsonObject result;
    result.Str("outcome", OutcomeName(r.outcome));
    if (r.outcome != Outcome::Ok) result.Str("failure", FailureName(r.cause)).Str("detail", CauseName(r.cause));
    result.Str("box", r.boxText);
    if (!r.mismatchBlocks.empty()) result.Raw("mismatch", MismatchJson(r.mismatchBlocks));
    JsonObject job;
    job.Str("name", c.tags.jobName).Str("sha256", c.tags.jobSha256);
    const std::string port = ToUtf8(ShortPortName(r.port));

    JsonObject line;
    line.Int("schema", kRecordSchema)
        .Str("id", c.id)
        .Str("time", FormatUtc(c.startUtcMs))
        .Str("host", c.host)
        .Str("program", c.program)
        .Str("version", c.version)
        .Str("port", port)
        .Str("station", port)
        .Str("device_path", c.devicePath)
        .Str("device_kind", r.deviceSel == 0 ? "pic32" : "hcs")
        .Str("device", r.device)
        .Str("operation", OperationName(r.operation))
        .Raw("unit_id", c.tags.unitId.empty() ? "null" : JsonQuote(c.tags.unitId))
        .Raw("job", c.tags.jobSha256.empty() ? "null" : job.Text())
        .Raw("identity", identity.Text())
        .Raw("file", file.Text())
        .Int("bytes", static_cast<int64_t>(r.bytes))
        .Int("units", static_cast<int64_t>(r.units))
        .Str("unit", UnitName(r))
        .Real("duration_s", seconds, 3)
        .Real("bytes_per_s", rate, 1)
        .Int("line_bytes_per_s", static_cast<int64_t>(lineRate))
        .Real("line_efficiency", lineRate > 0 ? rate / lineRate : 0.0, 4)
        .Raw("phases", PhasesJson(r))
        .Raw("result", result.Text());
    return line.Text() + "\n";
}

}  // namespace zl
