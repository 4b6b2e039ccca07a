// The HCS kind over its paced line at 57600 baud: the answer to the wake-up, the load in
// pieces with its closing report, and the reset.
#include "tests/sim/sim_fixture.h"

namespace zl::simtest {
namespace {

class HcsLine : public SimLine {
protected:
    std::string SxFile(size_t length) {
        const std::string path = Path("fw.sx");
        EXPECT_TRUE(ZlSim::Zlfw({"sx", "--length", std::to_string(length), "-o", path}));
        return ReadFile(path);
    }
    // The load as the program runs it: command, 200 ms, answer; pieces of 512 bytes, each
    // followed by reading until 40 ms of silence (its read time-out); 200 ms; reading
    // until silent. All answers.
    std::string Load(const std::string& file) {
        port.Command("load");
        std::this_thread::sleep_for(200ms);
        std::string all = port.ReadUntilSilent(200ms);
        for (size_t at = 0; at < file.size(); at += 512) {
            port.Write(file.substr(at, 512));
            all += port.ReadUntilSilent(40ms);
        }
        std::this_thread::sleep_for(200ms);
        all += port.ReadUntilSilent(500ms);
        return all;
    }
};

TEST_F(HcsLine, WakeUpIsAnsweredOnlyAfterPowerOnWithItsFieldsAtFixedDistances) {
    Start("hcs", 41);
    EXPECT_EQ(port.WakeFor(700ms), "");
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.Received().size() >= 100; }));

    Power(true);
    const std::string answer = port.WakeUntil("\r\n");
    const size_t b = answer.find("BOOT ");
    ASSERT_NE(b, std::string::npos) << answer;
    ASSERT_GE(answer.size(), b + 50);
    EXPECT_EQ(answer.substr(b + 26, 8), "ZL418NRD");  // software
    EXPECT_EQ(answer.substr(b + 34, 8), "V04.07.1");  // version
    EXPECT_EQ(answer.substr(b + 42, 8), "07.12.26");  // date
}

TEST_F(HcsLine, WhileTheWakeUpsGoOnTheAnswerComesAgainWithQuietGapsBetween) {
    Start("hcs", 42);
    Power(true);
    const std::string all = port.WakeFor(2500ms);
    EXPECT_GE(ZlSim::Count(all, "BOOT "), 2u);  // a search that missed one answer gets the next
    // Each answer goes out whole, and a quiet line well beyond the search's 40 ms read
    // time-out follows it, or a search cycle would never end.
    struct Burst {
        int64_t start, end;
        std::string bytes;
    };
    std::vector<Burst> bursts;
    for (const auto& e : sim->Log()) {
        if (e.dir != "tx") continue;
        if (bursts.empty() || e.t_us - bursts.back().end > 50000) bursts.push_back({e.t_us, e.t_us, ""});
        bursts.back().end = e.t_us;
        bursts.back().bytes += e.bytes;
    }
    ASSERT_GE(bursts.size(), 2u);
    for (size_t i = 0; i < bursts.size(); ++i) {
        EXPECT_EQ(bursts[i].bytes.rfind("BOOT ", 0), 0u) << i;
        EXPECT_EQ(bursts[i].bytes.size(), 52u) << i;
        if (i > 0) {
            EXPECT_GE(bursts[i].start - bursts[i - 1].end, 200000) << i;
        }
    }
    // Only once the wake-ups have stopped does the device take commands.
    EXPECT_EQ(Status(), "ok waiting-for-wake-up plugged");
    EXPECT_TRUE(WaitStatus("menu"));
}

TEST_F(HcsLine, LoadTakesTheFileInPiecesStoresItAndReportsNoErrors) {
    Start("hcs", 43);
    WakeHcs();
    const std::string sx = SxFile(3000);
    const std::string answers = Load(sx);
    const size_t started = answers.find("Load gestartet");
    const size_t ended = answers.find("Load beendet, 0 Fehler aufgetreten");
    ASSERT_NE(started, std::string::npos) << answers;
    ASSERT_NE(ended, std::string::npos) << answers;
    EXPECT_LT(started, ended);
    EXPECT_EQ(ZlSim::Count(answers, "Load beendet"), 1u);
    ASSERT_TRUE(WaitEvent("loaded"));
    EXPECT_EQ(Flash(), sx);
    EXPECT_TRUE(WaitStatus("menu"));
}

TEST_F(HcsLine, LoadOfAFileWithoutItsEndRecordReportsAnError) {
    Start("hcs", 44);
    WakeHcs();
    std::string sx = SxFile(3000);
    sx.erase(sx.rfind("S9"));  // cut off, as by a broken transfer
    const std::string answers = Load(sx);
    const std::string report = answers + port.ReadUntil("aufgetreten", 5s);
    EXPECT_NE(report.find("Load beendet, 1 Fehler aufgetreten"), std::string::npos) << report;
    EXPECT_EQ(report.find("0 Fehler"), std::string::npos);
}

TEST_F(HcsLine, ResetHandsOverToTheFirmware) {
    Start("hcs", 45);
    WakeHcs();
    port.Command("reset");
    ASSERT_TRUE(WaitStatus("running"));
    EXPECT_EQ(port.WakeFor(800ms), "");
}

}  // namespace
}  // namespace zl::simtest
