// bzl report as a user runs it: the JSON and CSV of the made-up morning, an empty file,
// and the exit codes of bad arguments and of a file that cannot be read.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/cli/bzl_process.h"
#include "tests/report/sample_records.h"
#include "tests/support/temp_env.h"

namespace zl::test {
namespace {

class BzlReport : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = env.dir() + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    int Run(const std::vector<std::string>& args) {
        out.clear();
        err.clear();
        std::vector<std::string> all = {"report"};
        all.insert(all.end(), args.begin(), args.end());
        return BzlProcess::Run(all, env.dir(), &out, &err);
    }
    TempEnv env;
    std::string out, err;
};

TEST_F(BzlReport, JsonAndCsvOfAMorning) {
    const std::string log = Write("records.ndjson", kSampleRecords);
    ASSERT_EQ(Run({"--log", log, "--json"}), 0) << err;
    EXPECT_EQ(out,
              R"({"from":"2026-12-09T07:55:00.000Z","to":"2026-12-09T09:30:00.000Z","attempts":10,"good":6,"failed":4,)"
              R"("units":7,"first_pass_yield":0.4286,"retested_units":3,"per_hour":3.79,"load_s":{"median":11.200,"p95":12.400},)"
              R"("line_efficiency_median":0.5000,"by_cause":{"start-refused":1,"incomplete":1,"device-gone":1,"timeout":1},)"
              R"("by":{"key":"station","rows":[)"
              R"({"key":"COM5","good":2,"failed":1,"yield":0.6667,"load_s_median":10.100,"line_efficiency_median":0.5550,"slow_line":false},)"
              R"({"key":"COM6","good":1,"failed":3,"yield":0.2500,"load_s_median":10.400,"line_efficiency_median":0.5400,"slow_line":false},)"
              R"({"key":"COM7","good":3,"failed":0,"yield":1.0000,"load_s_median":12.200,"line_efficiency_median":0.4500,"slow_line":true}]},)"
              R"("skipped_lines":2})"
              "\n");

    ASSERT_EQ(Run({"--log", log, "--csv", "--by", "firmware"}), 0) << err;
    EXPECT_EQ(out,
              "firmware,good,failed,yield,load_s_median,line_efficiency_median\n"
              "Corvel 6 B,3,1,0.7500,12.200,0.4500\n"
              "\"Corvel 6, Basis 3.5.0\",2,1,0.6667,10.300,0.5450\n"
              "corvel.spic32 6716dba1c0ff,1,1,0.5000,10.000,0.5600\n"
              "nord.shcs aa0000000000,0,1,0.0000,,\n");

    // An empty job file: job A's loads; the file given twice is read once.
    const std::string job = Write("job.txt", "");
    ASSERT_EQ(Run({"--log", log, "--log=" + log, "--job", job, "--json"}), 0) << err;
    EXPECT_NE(out.find(R"("attempts":3,"good":2,"failed":1,"units":2,)"), std::string::npos) << out;

    ASSERT_EQ(Run({"--log", log, "--lang", "en"}), 0) << err;
    EXPECT_NE(out.find("First-pass yield:       42.9 % (3 of 7 units good at their first load)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  COM7        3       0   100.0 %       12.2 s           45.0 %  slow-line\n"), std::string::npos) << out;
}

TEST_F(BzlReport, AnEmptyFileGivesZerosAndNulls) {
    ASSERT_EQ(Run({"--log", Write("empty.ndjson", ""), "--json"}), 0) << err;
    EXPECT_EQ(out,
              R"({"from":null,"to":null,"attempts":0,"good":0,"failed":0,"units":0,"first_pass_yield":null,)"
              R"("retested_units":0,"per_hour":null,"load_s":{"median":null,"p95":null},"line_efficiency_median":null,)"
              R"("by_cause":{},"by":{"key":"station","rows":[]},"skipped_lines":0})"
              "\n");
}

TEST_F(BzlReport, BadArgumentsExitOneAndAFileThatCannotBeReadSeven) {
    const std::string log = Write("records.ndjson", kSampleRecords);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--by", "port"}, {"--since", "yesterday"}, {"--last", "8w"},
                                               {"--since", "2026-12-09", "--last", "8h"}, {"--json", "--csv"},
                                               {log}, {"--log"}, {"--port", "COM5"}}) {
        EXPECT_EQ(Run(args), 1) << args[0];
        EXPECT_EQ(err.rfind("bzl: ", 0), 0u) << err;
        EXPECT_NE(err.find("usage: bzl report"), std::string::npos) << err;
        EXPECT_TRUE(out.empty());
    }
    EXPECT_EQ(Run({"--log", log, "--log", env.dir() + "/missing.ndjson"}), 7);
    EXPECT_EQ(err, "bzl: --log " + env.dir() + "/missing.ndjson: No such file or directory\n");
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Run({"--log", env.dir()}), 7);
    EXPECT_EQ(Run({"--log", log, "--job", env.dir() + "/missing.job"}), 7);
    // No --log: the user's records file, which this test's state folder does not have yet.
    EXPECT_EQ(Run({}), 7);
    EXPECT_NE(err.find("/state/Hallwyn/BootloaderZL/records.ndjson"), std::string::npos) << err;
}

}  // namespace
}  // namespace zl::test
