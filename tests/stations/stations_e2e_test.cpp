// Several stations in one process, each a dialog on its own headless face, against
// zlsim devices paced at the line rate.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/texts.h"
#include "platform/text_convert.h"
#include "platform/win32.h"
#include "records/record_log.h"
#include "stations/port_list.h"
#include "stations/station.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace zl::stations {
namespace {

using namespace std::chrono_literals;
using test::ZlSim;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class Stations : public ::testing::Test {
protected:
    struct Bench {
        int com;
        std::unique_ptr<ZlSim> sim;
        std::unique_ptr<Station> station;
        std::string flash;
    };

    void SetUp() override {
        image = env.dir() + "/fw.spic32";
        ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "32768", "--seed", "7", "-o", image}));
        records = std::make_unique<RecordLog>(env.dir() + "/records.ndjson", "BootloaderZL-Stations", "test",
                                              [](const std::string&) {});
    }
    void TearDown() override {
        for (Bench& b : benches) b.station.reset();
        benches.clear();
    }
    void StartSim(Bench& b) {
        b.flash = env.dir() + "/flash" + std::to_string(b.com) + ".bin";
        b.sim = std::make_unique<ZlSim>("pic32", b.com, env.dir() + "/line" + std::to_string(b.com) + ".jsonl",
                                        std::vector<std::string>{"--flash", b.flash});
        ASSERT_TRUE(b.sim->Ready());
    }
    Bench& Add(int com, bool withSim = true) {
        benches.push_back(Bench{com, nullptr, nullptr, {}});
        Bench& b = benches.back();
        if (withSim) StartSim(b);
        StationOptions options;
        options.port = ComDeviceName(com);
        options.autoLoad = FromUtf8(image);
        b.station = std::make_unique<Station>(options, records.get(), nullptr);
        b.station->Start();
        // One start-up at a time, as the station window starts them.
        EXPECT_TRUE(WaitUntil([&] { return b.station->StartupDone(); }, 10s));
        return b;
    }
    static size_t Loads(const ZlSim& sim) {
        size_t n = 0;
        for (const auto& e : sim.Log()) n += e.event == "loaded";
        return n;
    }
    static bool Status(const Station& s, TextId id) { return s.View().status == Text(id, false); }

    test::TempEnv env;
    std::string image;
    std::unique_ptr<RecordLog> records;
    std::vector<Bench> benches;
};

// Four stations, devices switched on one after another: each is loaded once, in its
// own time; one device unplugged mid-load fails its station only, whose box waits while
// the others finish; plugged in again, that station takes its port up by itself.
TEST_F(Stations, FourStationsLoadInTheirOwnTimeAndAnUnplugFailsOnlyItsOwn) {
    benches.reserve(4);
    for (int com : {51, 52, 53, 54}) Add(com);
    for (Bench& b : benches) ASSERT_TRUE(WaitUntil([&] { return Status(*b.station, TextId::StatusSearching); }, 10s));
    for (Bench& b : benches) {
        ASSERT_EQ(b.sim->Command("power on").substr(0, 2), "ok");
        std::this_thread::sleep_for(700ms);
    }
    Bench& lost = benches[2];
    ASSERT_TRUE(WaitUntil([&] { return lost.station->View().barPos >= 3 && Status(*lost.station, TextId::StatusLoadToFlash); }, 20s));
    ASSERT_EQ(lost.sim->Command("unplug").substr(0, 2), "ok");

    // The failure box of the unplugged station stays unanswered while the others finish.
    ASSERT_TRUE(WaitUntil([&] { return lost.station->View().box.has_value(); }, 10s));
    for (Bench& b : benches) {
        if (&b == &lost) continue;
        ASSERT_TRUE(WaitUntil([&] { return b.station->View().good == 1; }, 30s)) << b.com;
    }
    StationView v = lost.station->View();
    ASSERT_TRUE(v.box.has_value());
    EXPECT_EQ(v.box->text, Text(TextId::LoadFailedLength, false));
    lost.station->Answer(v.box->id, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return lost.station->View().failed == 1; }, 5s));
    EXPECT_EQ(lost.station->View().verdict, Verdict::Fail);
    // Then the port is missing: said once, and the station waits for it.
    ASSERT_TRUE(WaitUntil([&] {
        auto box = lost.station->View().box;
        return box && box->text == Text(TextId::PortNotAvailable, false);
    }, 10s));
    lost.station->Answer(lost.station->View().box->id, IDOK);

    const std::string fw = ReadFile(image);
    int64_t firstEnd = 0, lastStart = 0;
    for (Bench& b : benches) {
        if (&b == &lost) continue;
        const StationView s = b.station->View();
        EXPECT_EQ(s.failed, 0) << b.com;
        EXPECT_EQ(s.verdict, Verdict::Pass) << b.com;
        EXPECT_EQ(ReadFile(b.flash), fw) << b.com;
        EXPECT_EQ(Loads(*b.sim), 1u) << b.com;
        const int64_t start = b.sim->EventTime("cmd", "load"), end = b.sim->EventTime("loaded");
        if (&b == &benches[0]) firstEnd = end;
        lastStart = start;
    }
    // The stations loaded side by side: the last device began before the first one ended.
    EXPECT_LT(lastStart, firstEnd);

    // Plugged in again: the station selects its port and searches by itself.
    ASSERT_EQ(lost.sim->Command("plug").substr(0, 2), "ok");
    ASSERT_TRUE(WaitUntil([&] { return Status(*lost.station, TextId::StatusSearching); }, 10s));
    ASSERT_EQ(lost.sim->Command("power on").substr(0, 2), "ok");
    ASSERT_TRUE(WaitUntil([&] { return lost.station->View().good == 1; }, 30s));
    EXPECT_EQ(lost.station->View().verdict, Verdict::Pass);
    EXPECT_EQ(ReadFile(lost.flash), fw);

    // One record per device, each naming its own station's port.
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(records->Path()));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5u);
    auto count = [&](const std::string& a, const std::string& b) {
        int n = 0;
        for (const std::string& l : lines) n += l.find(a) != std::string::npos && l.find(b) != std::string::npos;
        return n;
    };
    for (int com : {51, 52, 54}) EXPECT_EQ(count("\"port\":\"COM" + std::to_string(com) + "\"", "\"outcome\":\"ok\""), 1) << com;
    EXPECT_EQ(count("\"port\":\"COM53\"", "\"failure\":\"device-gone\""), 1);
    EXPECT_EQ(count("\"port\":\"COM53\"", "\"outcome\":\"ok\""), 1);
}

// A station whose port is not there when it starts stays on that port: it says so once,
// touches no other port, and searches as soon as the port appears, whether or not its
// operator has answered the box yet.
TEST_F(Stations, AStationWaitsForItsOwnPort) {
    benches.reserve(2);
    Add(61);
    Bench& waiting = Add(62, false);
    auto portBox = [&] {
        auto box = waiting.station->View().box;
        return box && box->text == Text(TextId::PortNotAvailable, false);
    };
    ASSERT_TRUE(WaitUntil(portBox, 10s));
    ASSERT_TRUE(WaitUntil([&] { return Status(*benches[0].station, TextId::StatusSearching); }, 10s));
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(portBox());  // shown until answered: it holds nothing
    EXPECT_FALSE(waiting.station->View().busy);
    EXPECT_NE(waiting.station->View().status.find(u"COM62"), std::u16string::npos);

    StartSim(waiting);
    const auto plugged = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return Status(*waiting.station, TextId::StatusSearching); }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - plugged, 3s);
    EXPECT_FALSE(waiting.station->View().box.has_value());  // the port is back: the box is over
    ASSERT_TRUE(waiting.sim->WaitFor([](const ZlSim& s) { return !s.Received().empty(); }, 5s));
    ASSERT_EQ(waiting.sim->Command("power on").substr(0, 2), "ok");
    ASSERT_TRUE(WaitUntil([&] { return waiting.station->View().good == 1; }, 30s));
    EXPECT_EQ(ReadFile(waiting.flash), ReadFile(image));
    EXPECT_EQ(Loads(*benches[0].sim), 0u);
}

// Quit while a station loads (the window closed, the station removed): the load is
// finished however long it takes, then the device is reset and the port released.
TEST_F(Stations, QuitDuringALoadFinishesItFirst) {
    image = env.dir() + "/big.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(64 * 1024), "-o", image}));
    benches.reserve(1);
    Bench& b = Add(64);
    ASSERT_TRUE(WaitUntil([&] { return Status(*b.station, TextId::StatusSearching); }, 15s));
    ASSERT_EQ(b.sim->Command("power on").substr(0, 2), "ok");
    ASSERT_TRUE(b.sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, 20s));
    // 64 KiB take seconds at the line rate: far longer than the time Quit is given here
    // once no transfer runs.
    EXPECT_TRUE(b.station->Quit(std::chrono::seconds(1)));
    EXPECT_EQ(ReadFile(b.flash), ReadFile(image));
    EXPECT_GT(b.sim->EventTime("cmd", "reset"), b.sim->EventTime("prog"));
    EXPECT_EQ(b.station->View().good, 1);
    EXPECT_NE(ReadFile(records->Path()).find("\"outcome\":\"ok\""), std::string::npos);
}

// The compatibility question comes per device in the station's own box: "Cancel" counts
// the device as failed and sends nothing; the next device is asked again.
TEST_F(Stations, TheCompatibilityQuestionComesForEachDevice) {
    image = env.dir() + "/other.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "4096", "--hardware", "ZL-Pallas-2c    ", "-o", image}));
    benches.reserve(1);
    Bench& b = Add(63);
    auto question = [&] {
        auto box = b.station->View().box;
        return box && (box->type & MB_TYPEMASK) == MB_OKCANCEL;
    };
    for (int answer : {IDCANCEL, IDOK}) {
        ASSERT_TRUE(WaitUntil([&] { return Status(*b.station, TextId::StatusSearching); }, 15s));
        ASSERT_EQ(b.sim->Command("power on").substr(0, 2), "ok");
        ASSERT_TRUE(WaitUntil(question, 15s));
        b.station->Answer(b.station->View().box->id, answer);
        ASSERT_TRUE(WaitUntil([&] { return b.station->View().good + b.station->View().failed == 1 + (answer == IDOK); }, 30s));
        ASSERT_EQ(b.sim->Command("power off").substr(0, 2), "ok");
    }
    const StationView v = b.station->View();
    EXPECT_EQ(v.good, 1);
    EXPECT_EQ(v.failed, 1);
    EXPECT_EQ(Loads(*b.sim), 1u);
    EXPECT_EQ(ReadFile(b.flash), ReadFile(image));
}

TEST(StationPorts, NamesAndTheProfileList) {
    EXPECT_EQ(ComNumber(u"COM5"), 5);
    EXPECT_EQ(ComNumber(u" com256 "), 256);
    for (const char16_t* bad : {u"COM0", u"COM257", u"COM05", u"COM", u"COMX", u"/dev/ttyUSB0", u""})
        EXPECT_FALSE(ComNumber(bad).has_value()) << ToUtf8(bad);
    EXPECT_EQ(ParsePortList(u"COM5,com7, COM5,junk,,COM300,COM1"), (std::vector<int>{5, 7, 1}));
    EXPECT_EQ(FormatPortList({5, 7, 1}), u"COM5,COM7,COM1");
}

}  // namespace
}  // namespace zl::stations
