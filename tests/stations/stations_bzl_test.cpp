// bzl load with one station per port, all in one process, against zlsim devices paced at
// the line rate and switched on at different times.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/bzl_process.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace zl::test {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int Count(const std::vector<std::string>& lines, const std::vector<std::string>& parts) {
    int n = 0;
    for (const std::string& l : lines) {
        bool all = true;
        for (const std::string& p : parts) all = all && l.find(p) != std::string::npos;
        n += all;
    }
    return n;
}

// Four stations: each device is loaded once, in its own time, and recorded with its own
// port; the device unplugged mid-load fails its station only, and the run's exit code is 4.
TEST(BzlStations, FourStationsOneUnpluggedMidLoad) {
    TempEnv env;
    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "32768", "-o", image}));
    const std::vector<int> coms = {91, 92, 93, 94};
    std::vector<std::unique_ptr<ZlSim>> sims;
    for (int com : coms) {
        sims.push_back(std::make_unique<ZlSim>("pic32", com, env.dir() + "/line" + std::to_string(com) + ".jsonl",
                                               std::vector<std::string>{"--flash", env.dir() + "/flash" + std::to_string(com)}));
        ASSERT_TRUE(sims.back()->Ready());
    }
    std::vector<std::string> args = {"load", image, "--device", "0", "--json"};
    for (int com : coms) args.insert(args.end(), {"--port", "COM" + std::to_string(com)});
    BzlProcess bzl(args, env.dir());

    for (auto& sim : sims) ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return !s.Received().empty(); }, 20s)) << bzl.Err();
    for (auto& sim : sims) {
        ASSERT_EQ(sim->Command("power on").substr(0, 2), "ok");
        std::this_thread::sleep_for(700ms);
    }
    ZlSim& lost = *sims[2];
    ASSERT_TRUE(lost.WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, 20s));
    std::this_thread::sleep_for(1s);  // a third of the image on the line
    ASSERT_EQ(lost.Command("unplug").substr(0, 2), "ok");
    EXPECT_EQ(bzl.Wait(120s), 4) << bzl.Out() << bzl.Err();

    const std::vector<std::string> out = Lines(bzl.Out());
    for (const std::string& line : out)
        if (line.find("\"event\":\"summary\"") == std::string::npos) EXPECT_NE(line.find("\"station\":\"COM9"), std::string::npos) << line;
    for (int com : {91, 92, 94})
        EXPECT_EQ(Count(out, {"\"station\":\"COM" + std::to_string(com) + "\"", "\"event\":\"result\"", "\"code\":0"}), 1) << com;
    EXPECT_EQ(Count(out, {"\"station\":\"COM93\"", "\"event\":\"result\"", "\"code\":4"}), 1);
    EXPECT_EQ(Count(out, {"\"event\":\"summary\"", "\"code\":4", "\"first_failure\":\"COM93\""}), 1);

    const std::string fw = ReadFile(image);
    int64_t firstEnd = 0, lastStart = 0;
    for (size_t i : {0u, 1u, 3u}) {
        EXPECT_EQ(ReadFile(env.dir() + "/flash" + std::to_string(coms[i])), fw) << coms[i];
        int loads = 0;
        for (const auto& e : sims[i]->Log()) loads += e.event == "loaded";
        EXPECT_EQ(loads, 1) << coms[i];
        if (i == 0) firstEnd = sims[i]->EventTime("loaded");
        lastStart = sims[i]->EventTime("cmd", "load");
    }
    EXPECT_LT(lastStart, firstEnd);  // side by side, none waiting for another

    const std::vector<std::string> records = Lines(ReadFile(env.dir() + "/state/Hallwyn/BootloaderZL/records.ndjson"));
    EXPECT_EQ(records.size(), 4u);
    for (int com : {91, 92, 94})
        EXPECT_EQ(Count(records, {"\"port\":\"COM" + std::to_string(com) + "\"", "\"outcome\":\"ok\""}), 1) << com;
    EXPECT_EQ(Count(records, {"\"port\":\"COM93\"", "\"failure\":\"device-gone\""}), 1);
}

// Text output begins every line with its station's port (one given as the device path
// behind it); --count counts per station; a port given twice is a usage error.
TEST(BzlStations, TextLinesNameTheirStationAndPortsAreDistinct) {
    TempEnv env;
    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "4096", "-o", image}));
    ZlSim a("pic32", 95, env.dir() + "/a.jsonl", {"--no-pacing", "--flash", env.dir() + "/a.bin"});
    ZlSim b("pic32", 96, env.dir() + "/b.jsonl", {"--no-pacing", "--flash", env.dir() + "/b.bin"});
    ASSERT_TRUE(a.Ready() && b.Ready());
    std::string out, err;
    EXPECT_EQ(BzlProcess::Run({"load", image, "--port", "COM95", "--port", "com95"}, env.dir(), &out, &err), 1);
    EXPECT_NE(err.find("given twice"), std::string::npos) << err;

    BzlProcess bzl({"load", image, "--port", "COM95", "--port", b.SlavePath(), "--device", "0", "--count", "2"}, env.dir());
    for (ZlSim* sim : {&a, &b}) ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return !s.Received().empty(); }, 20s));
    for (int device = 0; device < 2; ++device) {
        for (ZlSim* sim : {&a, &b}) ASSERT_EQ(sim->Command("power on").substr(0, 2), "ok");
        for (ZlSim* sim : {&a, &b})
            ASSERT_TRUE(sim->WaitFor([&](const ZlSim& s) {
                int n = 0;
                for (const auto& e : s.Log()) n += e.event == "prog";
                return n > device;
            }, 30s)) << bzl.Out();
        std::this_thread::sleep_for(1500ms);  // the device answers again after its load
        for (ZlSim* sim : {&a, &b}) ASSERT_EQ(sim->Command("power off").substr(0, 2), "ok");
    }
    EXPECT_EQ(bzl.Wait(60s), 0) << bzl.Out() << bzl.Err();
    for (const std::string& line : Lines(bzl.Out())) {
        if (line.rfind("2 stations:", 0) == 0) continue;  // the run's summary
        EXPECT_TRUE(line.rfind("COM95", 0) == 0 || line.rfind("COM96", 0) == 0) << line;
    }
    EXPECT_EQ(Count(Lines(bzl.Out()), {"done: 2 device(s) good, 0 failed"}), 2) << bzl.Out();
}

}  // namespace
}  // namespace zl::test
