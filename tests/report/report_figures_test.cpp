// The yield figures of a made-up morning (tests/report/sample_records.h, worked out by
// hand there), and the strictness of the reader under them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "records/json_reader.h"
#include "records/record_line.h"
#include "report/group_tally.h"
#include "report/record_stream.h"
#include "report/utc_time.h"
#include "report/yield_tally.h"
#include "tests/report/sample_records.h"

namespace zl::test {
namespace {

using namespace zl::report;

struct Read {
    YieldFigures figures;
    std::vector<GroupRow> rows;
    uint64_t skipped = 0;
    uint64_t goodSince0900 = 0;
};

// The sample fed in pieces of `piece` bytes, as a file is read.
Read ReadSample(RecordFilter filter, GroupBy by, size_t piece) {
    YieldTally tally;
    GroupTally groups(by);
    RecordStream stream(std::move(filter), [&](const RecordSummary& r) {
        tally.Add(r);
        groups.Add(r);
    });
    const std::string text = kSampleRecords;
    for (size_t i = 0; i < text.size(); i += piece) stream.Feed(text.data() + i, std::min(piece, text.size() - i));
    stream.EndOfFile();
    int64_t nine = 0;
    EXPECT_TRUE(ParseUserTime("2026-12-09T09:00Z", nine));
    return {tally.Figures(), groups.Rows(), stream.Skipped(), tally.GoodSince(nine)};
}

TEST(Report, FiguresOfAMorningWithRetestsASlowStationAndDamagedLines) {
    for (size_t piece : {size_t{7}, size_t{1} << 20}) {
        const Read r = ReadSample({}, GroupBy::Station, piece);
        const YieldFigures& f = r.figures;
        EXPECT_EQ(r.skipped, 2u);
        EXPECT_EQ(FormatUtc(f.fromMs), "2026-12-09T07:55:00.000Z");
        EXPECT_EQ(FormatUtc(f.toMs), "2026-12-09T09:30:00.000Z");
        EXPECT_EQ(f.attempts, 10u);
        EXPECT_EQ(f.good, 6u);
        EXPECT_EQ(f.failed, 4u);
        EXPECT_EQ(f.units, 7u);
        EXPECT_EQ(f.firstPassGood, 3u);
        EXPECT_NEAR(*f.firstPassYield, 3.0 / 7, 1e-12);
        EXPECT_EQ(f.retestedUnits, 3u);
        EXPECT_NEAR(*f.perHour, 6 / (95 / 60.0), 1e-9);
        EXPECT_NEAR(*f.loadMedianS, 11.2, 1e-9);
        EXPECT_NEAR(*f.loadP95S, 12.4, 1e-9);
        EXPECT_NEAR(*f.lineEfficiencyMedian, 0.50, 1e-9);
        for (size_t i = 0; i < kCauseCount; ++i) {
            const bool seen = !std::strcmp(kCauses[i], "timeout") || !std::strcmp(kCauses[i], "device-gone") ||
                              !std::strcmp(kCauses[i], "incomplete") || !std::strcmp(kCauses[i], "start-refused");
            EXPECT_EQ(f.byCause[i], seen ? 1u : 0u) << kCauses[i];
        }
        EXPECT_EQ(r.goodSince0900, 2u);  // 7 and 8; 10 failed

        ASSERT_EQ(r.rows.size(), 3u);
        EXPECT_EQ(r.rows[0].key, "COM5");
        EXPECT_EQ(r.rows[0].good, 2u);
        EXPECT_EQ(r.rows[0].failed, 1u);
        EXPECT_NEAR(*r.rows[0].loadMedianS, 10.1, 1e-9);
        EXPECT_NEAR(*r.rows[0].lineEfficiencyMedian, 0.555, 1e-9);
        EXPECT_EQ(r.rows[1].key, "COM6");
        EXPECT_NEAR(*r.rows[1].yield, 0.25, 1e-12);
        EXPECT_FALSE(r.rows[1].slowLine);  // 0.54 is above 0.4995
        EXPECT_EQ(r.rows[2].key, "COM7");
        EXPECT_NEAR(*r.rows[2].lineEfficiencyMedian, 0.45, 1e-9);
        EXPECT_TRUE(r.rows[2].slowLine);
    }
}

TEST(Report, SinceAndJobKeepTheirRecordsAndTheTablesGroupByWhatWasLoaded) {
    int64_t since = 0;
    ASSERT_TRUE(ParseUserTime("2026-12-09T09:00:00Z", since));
    Read r = ReadSample({since, std::nullopt}, GroupBy::Hour, 4096);
    EXPECT_EQ(r.figures.attempts, 3u);  // 7, 8, 10 (9 is a readout)
    EXPECT_EQ(r.figures.units, 3u);     // SN-4 and SN-3 start here, 10 has no ID
    EXPECT_NEAR(*r.figures.perHour, 4.0, 1e-9);  // 2 good from 09:00 to 09:30
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].key, "2026-12-09T09");

    r = ReadSample({std::nullopt, std::string(kJobA)}, GroupBy::Firmware, 4096);
    EXPECT_EQ(r.figures.attempts, 3u);  // 2, 3, 4
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0].key, "Corvel 6, Basis 3.5.0");

    r = ReadSample({}, GroupBy::Firmware, 4096);
    ASSERT_EQ(r.rows.size(), 4u);
    EXPECT_EQ(r.rows[2].key, "corvel.spic32 6716dba1c0ff");  // schema 1: the file's name and digest
    EXPECT_EQ(r.rows[3].key, "nord.shcs aa0000000000");
}

TEST(Report, OneRecordHasNoPeriodAndNothingIsNoFigure) {
    YieldTally tally;
    YieldFigures f = tally.Figures();
    EXPECT_FALSE(f.any);
    EXPECT_FALSE(f.firstPassYield || f.perHour || f.loadMedianS || f.loadP95S || f.lineEfficiencyMedian);
    RecordSummary one;
    one.operation = "load";
    one.good = true;
    one.durationS = 10;
    tally.Add(one);
    f = tally.Figures();
    EXPECT_EQ(f.good, 1u);
    EXPECT_FALSE(f.perHour);
    EXPECT_EQ(*f.loadP95S, 10);
}

TEST(Report, JsonReaderTakesJsonAndNothingElse) {
    JsonDocument doc;
    const char* bad[] = {
        "", "{", "{\"a\":1,}", "[1 2]", "{\"a\":1} x", "{a:1}", "{\"a\":01}", "{\"a\":1.}", "{\"a\":-}",
        "{\"a\":\"\x01\"}", "{\"a\":\"\\x\"}", "{\"a\":\"\\u12\"}", "{\"a\":\"\xc3\"}", "{\"a\":\"\xed\xa0\x80\"}",
        "{\"a\":tru}", "{\"a\":1e999}", "{\"a\":\"\xff\"}"};
    for (const std::string text : bad) EXPECT_FALSE(doc.Parse(text)) << text;
    const std::string deep = std::string(65, '[') + std::string(65, ']');
    EXPECT_FALSE(doc.Parse(deep));
    const std::string deepest = deep.substr(1, 128);  // 64 deep
    EXPECT_TRUE(doc.Parse(deepest));

    const std::string text = " {\"k\\u0065y\":\"a\\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e4\\ud83d\\ude00\\udc00\",\"n\":-1.5e2,"
                             "\"l\":[true,false,null,{}],\"u\":\"\xc3\xa4\"} ";
    ASSERT_TRUE(doc.Parse(text));
    const JsonValue root = doc.Root();
    EXPECT_EQ(root["key"].String(), "a\"\\/\b\f\n\r\t\xc3\xa4\xf0\x9f\x98\x80\xef\xbf\xbd");
    EXPECT_EQ(root["n"].Number(), -150);
    const auto list = root["l"].Elements();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[0].Bool());
    EXPECT_TRUE(list[2].IsNull());
    EXPECT_TRUE(list[3].IsObject());
    EXPECT_EQ(root["u"].String(), "\xc3\xa4");
    EXPECT_FALSE(root["missing"].Exists());
}

TEST(Report, TimesAreUtcAsRecordsWriteThem) {
    int64_t ms = 0;
    ASSERT_TRUE(ParseRecordTime("2024-02-29T23:59:59.5Z", ms));
    EXPECT_EQ(FormatUtc(ms), "2024-02-29T23:59:59.500Z");
    ASSERT_TRUE(ParseUserTime("2026-12-09", ms));
    EXPECT_EQ(FormatUtc(ms), "2026-12-09T00:00:00.000Z");
    for (const char* bad : {"2026-12-09", "2026-02-29T00:00:00Z", "2026-12-09T24:00:00Z", "2026-12-09T08:00:00",
                            "2026-12-09T08:00:00.Z", "2026-12-09T08:00:00+01:00", "2026-13-01T00:00:00Z"})
        EXPECT_FALSE(ParseRecordTime(bad, ms)) << bad;
    EXPECT_TRUE(ParseUserTime("2026-12-09T08:00", ms));
    EXPECT_FALSE(ParseUserTime("2026-12-09T08:00:00+01:00", ms));
}

}  // namespace
}  // namespace zl::test
