// The parts of bzl collect that need no database: the id of a line without one, the text
// jsonb is given, and the station URLs.
#include <gtest/gtest.h>

#include "collect/record_row.h"
#include "collect/source.h"

namespace zl::collect {
namespace {

const std::string kSchemaOne =
    R"({"schema":1,"time":"2026-12-09T08:00:00.000Z","host":"pc","program":"bzl","port":"COM5","operation":"load",)"
    R"("file":{"path":"/fw/a.spic32","size":4,"sha256":"abcdef0123456789"},"duration_s":10.5,"line_efficiency":0.5,)"
    R"("result":{"outcome":"transfer-failed","failure":"no-report","box":""}})";

TEST(CollectRow, SchemaOneLinesGetAStableIdOfTheirOwn) {
    JsonDocument doc;
    RecordRow a, b;
    ASSERT_TRUE(ReadRow(kSchemaOne, doc, a));
    ASSERT_TRUE(ReadRow(kSchemaOne + "\r", doc, b));  // the same line written on Windows
    EXPECT_EQ(a.id, b.id);
    EXPECT_TRUE(IsUuid(a.id));
    EXPECT_EQ(a.id[14], '8');                                     // version 8
    EXPECT_NE(std::string("89ab").find(a.id[19]), std::string::npos);  // RFC 4122 variant
    EXPECT_EQ(std::string(report::kCauses[a.summary.cause]), "timeout");

    std::string other = kSchemaOne;
    other.replace(other.find("10.5"), 4, "10.6");
    RecordRow c;
    ASSERT_TRUE(ReadRow(other, doc, c));
    EXPECT_NE(a.id, c.id);

    // A schema-2 record keeps its own id; a line that is no record is none.
    std::string two = kSchemaOne;
    two.replace(two.find("\"schema\":1"), 10, R"("schema":2,"id":"01a25c55-b8d0-7007-b39a-34b5c9106809","station":"COM5")");
    two.replace(two.find("no-report"), 9, "timeout");
    RecordRow d;
    ASSERT_TRUE(ReadRow(two, doc, d));
    EXPECT_EQ(d.id, "01a25c55-b8d0-7007-b39a-34b5c9106809");
    EXPECT_FALSE(ReadRow("{\"schema\":3}", doc, d));
}

TEST(CollectRow, JsonbGetsNoNulCharacterButKeepsEscapedBackslashes) {
    EXPECT_EQ(JsonbText(R"({"box":"a\u0000b"})"), R"({"box":"a\ufffdb"})");
    EXPECT_EQ(JsonbText(R"({"box":"a\\u0000b"})"), R"({"box":"a\\u0000b"})");
    EXPECT_EQ(JsonbText(R"({"box":"a\\\u0000"})" "\r"), R"({"box":"a\\\ufffd"})");
}

TEST(CollectUrl, StationAddressesAreSplitIntoHostAndPath) {
    std::string hostPort, prefix, error;
    ASSERT_TRUE(SplitUrl("http://line-pc-3:8080", hostPort, prefix, error));
    EXPECT_EQ(hostPort, "http://line-pc-3:8080");
    EXPECT_EQ(prefix, "");
    ASSERT_TRUE(SplitUrl("https://gw/line3/", hostPort, prefix, error));
    EXPECT_EQ(hostPort, "https://gw");
    EXPECT_EQ(prefix, "/line3");
    EXPECT_FALSE(SplitUrl("ftp://x", hostPort, prefix, error));
    EXPECT_FALSE(SplitUrl("http://", hostPort, prefix, error));
    EXPECT_FALSE(SplitUrl("http://x/api?after=1", hostPort, prefix, error));
}

}  // namespace
}  // namespace zl::collect
