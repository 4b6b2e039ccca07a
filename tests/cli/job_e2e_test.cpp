// A production job end to end: bzl job make pins the firmware, bzl load --job loads it
// into units whose IDs come from standard input (searching only once an ID is read),
// refuses a replaced file before the device hears anything, and fails a device that
// comes back with another firmware than the job expects.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "tests/cli/cli_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono_literals;

class Job : public BzlScenario {};

size_t Count(const std::vector<std::string>& lines, std::initializer_list<const char*> parts) {
    size_t n = 0;
    for (const std::string& line : lines) {
        bool all = true;
        for (const char* part : parts) all = all && line.find(part) != std::string::npos;
        n += all;
    }
    return n;
}

TEST_F(Job, PinsTheFileNamesEachUnitAndChecksTheFirmwareAfterTheLoad) {
    Sim("pic32", 171);
    Image("fw.spic32", 4096, {"--name", "Corvel-Basis", "--version", "3.5.0", "--date", "07.12.2026"});
    const std::string job = File("line.zljob");
    std::string out, err;
    ASSERT_EQ(BzlProcess::Run({"job", "make", job, "--file", File("fw.spic32"), "--device", "Corvel 6", "--verify",
                               "--expect-firmware", "Corvel-Basis,3.5.0,07.12.2026"},
                              env.dir(), &out, &err),
              0)
        << err;
    EXPECT_NE(ReadFile(job).find("\"file\":\"fw.spic32\""), std::string::npos) << ReadFile(job);  // beside the job
    EXPECT_EQ(BzlProcess::Run({"load", "--job", job, File("fw.spic32"), "--port", Port()}, env.dir()), 1);

    // Two units, their IDs typed one at a time: nothing is searched before an ID.
    const std::string ids = File("ids");
    ASSERT_EQ(mkfifo(ids.c_str(), 0600), 0);
    BzlProcess p({"load", "--job", job, "--port", Port(), "--ask-unit", "--count", "2", "--json"}, env.dir(), ids);
    const int typist = open(ids.c_str(), O_WRONLY);
    ASSERT_GE(typist, 0);
    auto type = [&](const std::string& line) { ASSERT_EQ(write(typist, line.data(), line.size()), ssize_t(line.size())); };
    ASSERT_TRUE(WaitFor([&] { return p.Out().find("\"unit_wanted\"") != std::string::npos; })) << p.Err();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(sim->Received(), "");
    type("SN-1\n");
    ASSERT_TRUE(WaitFor([&] { return Searching(p) || p.Out().find("\"searching\"") != std::string::npos; })) << p.Out();
    Command("power on");
    ASSERT_TRUE(WaitFor([&] { return ZlSim::Count(p.Out(), "\"unit_wanted\"") == 2; }, 60s)) << p.Out();
    Command("power off");
    // The search stops as soon as the device is gone, until the next ID comes: the line
    // falls silent.
    size_t heard = 0;
    ASSERT_TRUE(WaitFor([&] {
        heard = sim->Received().size();
        std::this_thread::sleep_for(1s);
        return sim->Received().size() == heard;
    }, 30s)) << p.Out();
    type("SN-2\n");
    ASSERT_TRUE(WaitFor([&] { return sim->Received().size() > heard; })) << p.Out();
    Command("power on");
    EXPECT_EQ(p.Wait(), 0) << p.Out() << p.Err();
    close(typist);
    Command("power off");
    const std::vector<std::string> records = Records();
    EXPECT_EQ(records.size(), 4u);  // a load and a verify each
    const std::string pinned = "\"job\":{\"name\":\"Corvel 6 - fw.spic32\",\"sha256\":\"";
    EXPECT_EQ(Count(records, {"\"unit_id\":\"SN-1\"", pinned.c_str(), "\"outcome\":\"ok\""}), 2u);
    EXPECT_EQ(Count(records, {"\"unit_id\":\"SN-2\"", pinned.c_str(), "\"outcome\":\"ok\""}), 2u);

    // The file replaced by another of the same size: refused before any device is touched.
    heard = sim->Received().size();
    Image("fw.spic32", 4096, {"--seed", "9"});
    EXPECT_EQ(BzlProcess::Run({"load", "--job", job, "--port", Port(), "--timeout", "5"}, env.dir(), &out, &err), 7);
    EXPECT_NE(err.find("is not the one the job pins: its SHA-256 is "), std::string::npos) << err;
    EXPECT_EQ(sim->Received().size(), heard);

    // A device that comes back with another firmware than the job expects has failed.
    ASSERT_EQ(BzlProcess::Run({"job", "make", job, "--file", File("fw.spic32"), "--device", "0", "--expect-firmware",
                               "Corvel-Basis,3.6.0,07.12.2026"},
                              env.dir()),
              0);
    EXPECT_EQ(RunOnDevice({"load", "--job", job, "--port", Port(), "--unit", "SN-3", "--lang", "en"}, &out), 4) << out;
    EXPECT_NE(out.find("load FAILED (transfer-failed: firmware-mismatch, exit code 4)"), std::string::npos) << out;
    EXPECT_EQ(Count(Records(), {"\"unit_id\":\"SN-3\"", "\"failure\":\"firmware-mismatch\""}), 1u) << Records().back();

    // Every record written is one the published JSON Schema accepts.
    const std::string check = "/usr/bin/python3 -c 'import json, sys, jsonschema\n"
                              "v = jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))\n"
                              "for line in open(sys.argv[2]): v.validate(json.loads(line))' " RECORDS_SCHEMA " " +
                              env.dir() + "/state/Hallwyn/BootloaderZL/records.ndjson";
    EXPECT_EQ(std::system(check.c_str()), 0) << check;
}

}  // namespace
}  // namespace zl::test
