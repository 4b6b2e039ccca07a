// Record lines as they may be found in a file: anything. The reader never fails on them,
// and a file read in pieces (split where the first byte says) gives what it gives whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/group_tally.h"
#include "report/record_stream.h"
#include "report/yield_tally.h"

namespace {

struct Tallied {
    uint64_t skipped = 0, kept = 0, attempts = 0, units = 0;
    size_t rows = 0;
};

Tallied Read(const char* data, size_t size, size_t piece) {
    zl::report::YieldTally tally;
    zl::report::GroupTally groups(zl::report::GroupBy::Cause);
    zl::report::RecordStream stream({}, [&](const zl::report::RecordSummary& r) {
        tally.Add(r);
        groups.Add(r);
    });
    for (size_t i = 0; i < size; i += piece) stream.Feed(data + i, piece < size - i ? piece : size - i);
    stream.EndOfFile();
    const zl::report::YieldFigures f = tally.Figures();
    return {stream.Skipped(), stream.Kept(), f.attempts, f.units, groups.Rows().size()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = data[0] % 16 + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const Tallied whole = Read(text, size - 1, size);
    const Tallied pieces = Read(text, size - 1, piece);
    if (whole.skipped != pieces.skipped || whole.kept != pieces.kept || whole.attempts != pieces.attempts ||
        whole.units != pieces.units || whole.rows != pieces.rows)
        abort();
    return 0;
}
