// bzl against zlsim: the same exchange as the window's, several devices in one run with
// their records, and Ctrl-C while searching and during a transfer.
#include <csignal>
#include <cstdio>
#include <fstream>

#include "platform/text_convert.h"
#include "records/sha256.h"
#include "res/resources.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/dialog_harness.h"

namespace zl::test {
namespace {

using namespace std::chrono;

// What the program sent from its first command on (the wake-up flood before it depends
// on when the device was switched on), up to the end mark; and the times of zlsim's
// command, loaded and prog events from the first command on, relative to it.
struct Exchange {
    std::string bytes;
    std::vector<std::pair<std::string, double>> commands;  // name, ms after the first
};

Exchange ExchangeOf(const ZlSim& sim, const std::string& endMark) {
    Exchange x;
    const std::string rx = sim.Received();
    const size_t first = rx.find("\rS");
    if (first == std::string::npos) return x;
    const size_t end = rx.find(endMark, first);
    x.bytes = rx.substr(first, end == std::string::npos ? std::string::npos : end + endMark.size() - first);
    int64_t t0 = -1;
    for (const auto& e : sim.Log()) {
        const bool command = e.event == "cmd" && e.name != "reset";
        if (!command && !(t0 >= 0 && (e.event == "loaded" || e.event == "prog"))) continue;
        if (t0 < 0) t0 = e.t_us;
        x.commands.push_back({e.event + " " + e.name, (e.t_us - t0) / 1000.0});
    }
    return x;
}

class CommandLine : public BzlScenario {
protected:
    // The window's Auto-Load of the same file, with the scripted face, against a second zlsim.
    Exchange ThroughTheWindow(const std::string& kind, int device, const std::string& file, const std::string& endMark,
                              const std::function<bool(const ZlSim&)>& done) {
        TempEnv own;
        ZlSim other(kind, com_ + 1, own.dir() + "/line.jsonl", {"--flash", own.dir() + "/flash.bin"});
        EXPECT_TRUE(other.Ready());
        DialogHarness ui(own, "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(com_ + 1) + "\nPrevDevice=" + std::to_string(device) + "\n");
        ui.Start();
        ui.platform.QueueFileAnswer(FromUtf8(file));
        EXPECT_TRUE(ui.Click(IDC_AUTOLOAD_ON));
        EXPECT_TRUE(ui.WaitFor([&] { return ui.Text(IDC_STATUS) == u"Suche nach Ger\u00e4t"; }));
        EXPECT_EQ(other.Command("power on"), "ok power on");
        EXPECT_TRUE(other.WaitFor(done, seconds(60)));
        std::this_thread::sleep_for(seconds(1));
        ui.Stop();
        return ExchangeOf(other, endMark);
    }

    void ExpectSame(const Exchange& bzl, const Exchange& window) {
        EXPECT_GT(bzl.bytes.size(), 1000u);
        EXPECT_TRUE(bzl.bytes == window.bytes) << bzl.bytes.size() << " bytes against " << window.bytes.size();
        ASSERT_GE(bzl.commands.size(), 2u);
        ASSERT_GE(window.commands.size(), bzl.commands.size() - 1);
        // The same commands with the same waits between them, within the line log's
        // resolution (a read of zlsim's takes up to 10 ms; the scheduler adds a few). A
        // stretch made of many read time-outs (an HCS load reads after every piece) adds a
        // few milliseconds of jitter per read: 2.5 % of the stretch are allowed on top.
        // Sanitizer builds run bzl several times slower than the line: there only the order
        // counts.
        for (size_t i = 0; i < std::min(bzl.commands.size(), window.commands.size()); ++i) {
            EXPECT_EQ(bzl.commands[i].first, window.commands[i].first) << i;
#ifndef BZL_SANITIZED
            if (i == 0) continue;
            const double bzlWait = bzl.commands[i].second - bzl.commands[i - 1].second;
            const double windowWait = window.commands[i].second - window.commands[i - 1].second;
            EXPECT_NEAR(bzlWait, windowWait, 30.0 + 0.025 * windowWait) << bzl.commands[i].first;
#endif
        }
    }
};

TEST_F(CommandLine, Pic32AutoLoadIsTheWindowsExchangeByteForByte) {
    Sim("pic32", 161, {});  // paced at the line rate, as a device takes the blocks
    const std::string fw = Image("fw.spic32", 24 * 1024);
    std::string out;
    ASSERT_EQ(RunOnDevice({"load", fw, "--port", Port(), "--device", "0"}, &out), 0) << out;
    const Exchange bzl = ExchangeOf(*sim, "\rSprog\r");
    const Exchange window = ThroughTheWindow("pic32", 0, fw, "\rSprog\r",
                                             [](const ZlSim& s) { return s.EventTime("prog") >= 0; });
    ExpectSame(bzl, window);
    EXPECT_EQ(bzl.bytes.substr(0, 14), "\rSmenu\r\rSload\r");
}

TEST_F(CommandLine, HcsLoadIsTheWindowsExchangeByteForByte) {
    Sim("hcs", 163, {});
    const std::string sx = File("fw.sx");
    ASSERT_TRUE(ZlSim::Zlfw({"sx", "--length", "6000", "-o", sx}));
    std::string out;
    ASSERT_EQ(RunOnDevice({"load", sx, "--port", Port(), "--device", "Pallas 2c/3c"}, &out), 0) << out;
    auto loaded = [](const ZlSim& s) { return s.EventTime("loaded") >= 0; };
    Exchange bzl = ExchangeOf(*sim, "\rSreset\r");
    ASSERT_EQ(bzl.bytes.substr(bzl.bytes.size() - 8), "\rSreset\r");  // Quit at the end
    bzl.bytes.resize(bzl.bytes.size() - 8);
    const Exchange window = ThroughTheWindow("hcs", 3, sx, "\rSreset\r", loaded);
    ExpectSame(bzl, window);
    EXPECT_EQ(ReadFile(flash), ReadFile(sx));
}

TEST_F(CommandLine, CountThreeLoadsThreeDevicesWithTheirRecordsAndJsonEvents) {
    Sim("pic32", 165);
    const std::string fw = Image("fw.spic32", 16 * 1024);
    const std::string log = File("own/records.ndjson");
    auto p = StartAndSwitchOn({"load", fw, "--port", Port(), "--device", "0", "--count", "3", "--verify", "--json", "--log", log});
    for (size_t n = 1; n <= 3; ++n) {
        // Loaded, verified, then switched off and on for the next device.
        ASSERT_TRUE(WaitFor([&] { return Records(log).size() >= 2 * n; }, seconds(60))) << p->Out();
        if (n < 3) {
            Command("power off");
            ASSERT_TRUE(WaitFor([&] { return p->Out().rfind("Suche nach Ger") > p->Out().rfind("\"transfer\""); }));
            Command("power on");
        }
    }
    ASSERT_EQ(p->Wait(seconds(30)), 0) << p->Out() << p->Err();

    Sha256 h;
    const std::string image = ReadFile(fw);
    h.Update(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    const std::string sha = h.HexDigest();
    const auto records = Records(log);
    ASSERT_EQ(records.size(), 6u);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_NE(records[i].find("\"sha256\":\"" + sha + "\""), std::string::npos) << records[i];
        EXPECT_NE(records[i].find(i % 2 ? "\"operation\":\"verify\"" : "\"operation\":\"load\""), std::string::npos);
        EXPECT_NE(records[i].find("\"outcome\":\"ok\""), std::string::npos);
        EXPECT_NE(records[i].find("\"port\":\"COM165\""), std::string::npos);
    }
    // The device's firmware once it answered again, as read from its panel and as shown;
    // the time of the send and of the device's copy phase.
    for (const char* part : {"\"firmware_after\":{\"name\":\"", "\"firmware_after\":\"aktuelle Firmware:",
                             "\"phases\":{\"send\":", ",\"program\":"})
        EXPECT_NE(records[0].find(part), std::string::npos) << part << "\n" << records[0];
    EXPECT_NE(records[1].find("\"phases\":{\"compare\":"), std::string::npos) << records[1];
    EXPECT_TRUE(Records().empty());  // --log chose the file

    // One JSON object per line, every one of the schema, three connections and a good end.
    const std::string out = p->Out();
    size_t lines = 0, connected = 0;
    for (size_t at = 0, e; (e = out.find('\n', at)) != std::string::npos; at = e + 1, ++lines) {
        const std::string line = out.substr(at, e - at);
        EXPECT_EQ(line.rfind("{\"v\":1,\"event\":\"", 0), 0u) << line;
        EXPECT_EQ(line.back(), '}') << line;
        connected += line.find("\"event\":\"connected\"") != std::string::npos;
    }
    EXPECT_GT(lines, 20u);
    EXPECT_EQ(connected, 3u);
    EXPECT_NE(out.find("{\"v\":1,\"event\":\"result\""), std::string::npos);
    EXPECT_NE(out.find("\"ok\":true,\"code\":0,\"good\":3,\"failed\":0"), std::string::npos) << out;
}

std::string Sha256Of(const std::string& bytes) {
    Sha256 h;
    h.Update(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return h.HexDigest();
}

TEST_F(CommandLine, ProgressNamesItsPhaseAndTheRecordNamesTheBytesSentEvenWhenTheFileIsReplaced) {
    Sim("pic32", 168);
    const std::string fw = Image("fw.spic32", 32 * 1024);
    const std::string sent = ReadFile(fw);
    std::string other = sent;
    other[100] ^= 0x5A;
    const std::string log = File("records.ndjson");
    auto p = StartAndSwitchOn({"load", fw, "--port", Port(), "--device", "0", "--json", "--log", log});
    // Replaced by rename, same size, once the device copies to its chip: the record is
    // written a few seconds later, when the device names its new firmware.
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("prog") >= 0; }, seconds(60))) << p->Out();
    {
        std::ofstream(File("other.spic32"), std::ios::binary) << other;
    }
    ASSERT_EQ(std::rename(File("other.spic32").c_str(), fw.c_str()), 0);
    ASSERT_EQ(p->Wait(seconds(60)), 0) << p->Out() << p->Err();
    EXPECT_EQ(ReadFile(flash), sent);
    const auto records = Records(log);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"size\":32768,\"sha256\":\"" + Sha256Of(sent) + "\""), std::string::npos) << records[0];

    // The send phase counts the file's bytes up to its size; the copy phase has its own.
    const std::string out = p->Out();
    EXPECT_NE(out.find("\"phase\":\"send\",\"done\":32768,\"total\":32768,\"percent\":100"), std::string::npos) << out;
    EXPECT_NE(out.find("\"phase\":\"program\",\"done\":4220,\"total\":4220,\"percent\":100"), std::string::npos) << out;
    EXPECT_LT(out.find("\"phase\":\"send\""), out.find("\"phase\":\"program\""));
}

TEST_F(CommandLine, CtrlCResetsTheDeviceAndDuringATransferFinishesItFirst) {
    Sim("pic32", 167, {});
    // While searching: the reset Quit sends, then the end.
    {
        BzlProcess p({"info", "--port", Port(), "--device", "0"}, env.dir());
        ASSERT_TRUE(WaitFor([&] { return Searching(p); }));
        std::this_thread::sleep_for(milliseconds(500));
        p.Signal(SIGINT);
        EXPECT_EQ(p.Wait(seconds(10)), 130) << p.Out() << p.Err();
        // Quit does not stop the flood first: the reset's bytes go out among the last
        // wake-ups ("BoOt\r" holds none of "Sreset"), in their order.
        EXPECT_TRUE(sim->WaitFor([](const ZlSim& s) {
            const std::string rx = s.Received();
            size_t at = 0;
            for (char c : std::string("Sreset")) {
                at = rx.find(c, at);
                if (at == std::string::npos) return false;
                ++at;
            }
            return true;
        }));
    }
    // During a load: the wait text, the load completed, then the reset.
    const std::string fw = Image("fw.spic32", 48 * 1024);
    auto p = StartAndSwitchOn({"load", fw, "--port", Port(), "--device", "0"});
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(20)));
    p->Signal(SIGINT);
    EXPECT_EQ(p->Wait(seconds(60)), 130) << p->Out() << p->Err();
    EXPECT_NE(p->Out().find("Bitte warten Sie zun\xc3\xa4" "chst das Ende des laufenden Prozesses ab."), std::string::npos) << p->Out();
    EXPECT_EQ(ReadFile(flash), ReadFile(fw));
    EXPECT_GT(sim->EventTime("cmd", "reset"), sim->EventTime("prog"));
    EXPECT_EQ(Records().size(), 1u);
}

}  // namespace
}  // namespace zl::test
