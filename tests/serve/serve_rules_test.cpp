// The rules that keep the server safe and its pages whole: which addresses count as
// loopback (everything else needs a token), and how the record file is paged.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "serve/bind_address.h"
#include "serve/metrics_text.h"
#include "serve/record_page.h"

namespace zl::serve {
namespace {

TEST(ServeAddress, OnlyLoopbackGoesWithoutToken) {
    struct Case {
        const char* text;
        bool parses, loopback;
    } cases[] = {
        {"127.0.0.1:9464", true, true},     {"127.255.3.4:0", true, true},   {"[::1]:9464", true, true},
        {"LocalHost:80", true, true},       {"0.0.0.0:9464", true, false},   {"[::]:9464", true, false},
        {"10.0.0.7:9464", true, false},     {"127.0.0.1.example.com:1", true, false},
        {"127.1:9464", true, false},        {"[::ffff:127.0.0.1]:1", true, false},
        {"128.0.0.1:1", true, false},       {"127.0.0.256:1", true, false},
        {"::1:9464", false, false},         {"127.0.0.1", false, false},     {"127.0.0.1:65536", false, false},
        {":9464", false, false},            {"127.0.0.1:-1", false, false},  {"[::1:9464", false, false},
    };
    for (const Case& c : cases) {
        BindAddress a;
        std::string error;
        EXPECT_EQ(ParseBindAddress(c.text, a, error), c.parses) << c.text << " " << error;
        if (c.parses) EXPECT_EQ(a.loopback, c.loopback) << c.text;
        else EXPECT_FALSE(error.empty()) << c.text;
    }
}

TEST(ServeAddress, TokenFileAndComparison) {
    const std::string path = ::testing::TempDir() + "/serve-token";
    std::string token, error;
    std::ofstream(path) << "  abcdefghijklmnop0123  \nsecond line\n";
    ASSERT_TRUE(ReadToken(path, token, error)) << error;
    EXPECT_EQ(token, "abcdefghijklmnop0123");
    std::ofstream(path) << "short\n";
    EXPECT_FALSE(ReadToken(path, token, error));
    std::ofstream(path) << "abcdefghijklmnop\"0123\n";  // would break the header
    EXPECT_FALSE(ReadToken(path, token, error));
    EXPECT_FALSE(ReadToken(path + ".missing", token, error));
    EXPECT_TRUE(SameSecret("abcdefghijklmnop", "abcdefghijklmnop"));
    EXPECT_FALSE(SameSecret("abcdefghijklmnop", "abcdefghijklmnoq"));
    EXPECT_FALSE(SameSecret("abcdefghijklmnop", "abcdefghijklmnopq"));
    EXPECT_FALSE(SameSecret("", "abcdefghijklmnop"));
    std::remove(path.c_str());
}

TEST(ServeMetrics, LabelValuesAreEscaped) {
    EXPECT_EQ(EscapeLabel("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
    BoardSnapshot s;
    s.program = "bzl";
    s.version = "1.23";
    s.jobSha256 = "x\"y";
    EXPECT_NE(MetricsText(s).find("zl_build_info{program=\"bzl\",version=\"1.23\",job_sha256=\"x\\\"y\"} 1\n"),
              std::string::npos);
}

std::string Id(int n) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "0193a5c2-7b4e-7c3d-9a1b-%012d", n);
    return buf;
}
std::string Line(int n) { return "{\"schema\":2,\"id\":\"" + Id(n) + "\",\"n\":" + std::to_string(n) + "}"; }

TEST(ServeRecords, PagesInFileOrderSkippingWhatIsNoRecord) {
    const std::string path = ::testing::TempDir() + "/serve-records.ndjson";
    {
        std::ofstream out(path, std::ios::binary);
        out << Line(3) << "\n"
            << "{\"schema\":1,\"time\":\"2026-01-01T00:00:00.000Z\"}\n"  // schema 1: no id
            << "garbage\n"
            << std::string(2 << 20, 'x') << "\n"                        // longer than any record
            << Line(1) << "\n"                                          // written later, started earlier
            << Line(2) << "\n"
            << Line(4);                                                 // still being written
    }
    RecordPage all = ReadRecordPage(path, "", 1000);
    EXPECT_EQ(all.body, Line(3) + "\n" + Line(1) + "\n" + Line(2) + "\n");
    EXPECT_EQ(all.count, 3u);

    RecordPage first = ReadRecordPage(path, "", 2);
    EXPECT_EQ(first.body, Line(3) + "\n" + Line(1) + "\n");
    RecordPage next = ReadRecordPage(path, Id(1), 2);
    EXPECT_TRUE(next.afterFound);
    EXPECT_EQ(next.body, Line(2) + "\n");
    RecordPage end = ReadRecordPage(path, Id(2), 2);
    EXPECT_TRUE(end.afterFound);
    EXPECT_EQ(end.count, 0u);

    EXPECT_FALSE(ReadRecordPage(path, Id(4), 10).afterFound);  // its line has not ended yet
    EXPECT_FALSE(ReadRecordPage(path, Id(9), 10).afterFound);
    RecordPage none = ReadRecordPage(path + ".missing", "", 10);
    EXPECT_EQ(none.count, 0u);
    EXPECT_TRUE(none.error.empty());
    EXPECT_TRUE(LooksLikeRecordId(Id(1)));
    EXPECT_FALSE(LooksLikeRecordId("0193a5c2-7b4e-7c3d-9a1b-00000000000g"));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace zl::serve
