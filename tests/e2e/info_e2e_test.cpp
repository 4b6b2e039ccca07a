// The connected state against zlsim: what a found device fills in, the menu request
// of every PIC32 cycle, the device switched off, the HCS kind that stays connected,
// and Disconnect with its reset sequence and pauses, read back from zlsim's log.
#include <algorithm>
#include <regex>

#include "platform/win32.h"
#include "tests/e2e/e2e_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

const std::string kWake = "BoOt\r";
const std::string kMenu = "\rSmenu\r";
const std::string kReset = "\rSreset\r";
const std::u16string kSearching = u"Suche nach Ger\u00e4t";
const std::u16string kConnected = u"Ger\u00e4t angeschlossen und bereit";

// Whether wake-up strings have followed the last menu request.
bool NewSearchAfterLastMenu(const ZlSim& sim) {
    const std::string all = sim.Received();
    const size_t last = all.rfind("\rSmenu\r");
    return last != std::string::npos && all.find("BoOt\r", last) != std::string::npos;
}

// What the line carried from fromUs on, for failure messages: one line per piece,
// with runs of wake-up strings folded together.
std::string Timeline(const std::vector<ZlSim::Entry>& log, int64_t fromUs) {
    std::string out;
    size_t wakes = 0;
    int64_t wakeFrom = 0;
    auto flush = [&] {
        if (wakes) out += "  +" + std::to_string((wakeFrom - fromUs) / 1000) + " ms rx " + std::to_string(wakes) + " wake-up bytes\n";
        wakes = 0;
    };
    for (const auto& e : log) {
        if (e.t_us < fromUs) continue;
        if (e.dir == "rx" && e.bytes.find_first_not_of("BoOt\r") == std::string::npos) {
            if (!wakes) wakeFrom = e.t_us;
            wakes += e.bytes.size();
            continue;
        }
        flush();
        std::string shown = e.dir.empty() ? e.event + " " + e.name : e.dir + " " + std::to_string(e.bytes.size()) + " bytes";
        if (!e.bytes.empty()) {
            shown += " \"";
            for (char c : e.bytes.substr(0, 16)) shown += (c >= 0x20 && c < 0x7f) ? std::string(1, c) : std::string(".");
            shown += "\"";
        }
        out += "  +" + std::to_string((e.t_us - fromUs) / 1000) + " ms " + shown + "\n";
    }
    flush();
    return out;
}

int64_t NowUs() { return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count(); }

// One direction of the line as zlsim logged it: the bytes in order, and for each
// logged piece where it begins and when it was logged.
class Stream {
public:
    Stream(const std::vector<ZlSim::Entry>& log, const std::string& dir, int64_t fromUs = 0) {
        for (const auto& e : log) {
            if (e.dir != dir || e.t_us < fromUs) continue;
            starts_.push_back(bytes_.size());
            times_.push_back(e.t_us);
            bytes_ += e.bytes;
        }
    }
    const std::string& Bytes() const { return bytes_; }
    // When the byte at offset was logged.
    int64_t TimeAt(size_t offset) const {
        const auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
        return times_[static_cast<size_t>(it - starts_.begin()) - 1];
    }
    // Offsets of every occurrence of what.
    std::vector<size_t> Find(const std::string& what, size_t from = 0) const {
        std::vector<size_t> at;
        for (size_t p = bytes_.find(what, from); p != std::string::npos; p = bytes_.find(what, p + what.size()))
            at.push_back(p);
        return at;
    }
    // When the occurrence at offset p was complete.
    int64_t DoneAt(size_t p, const std::string& what) const { return TimeAt(p + what.size() - 1); }

private:
    std::string bytes_;
    std::vector<size_t> starts_;
    std::vector<int64_t> times_;
};

class InfoScenario : public Scenario {
protected:
    // A PIC32 device whose flash (and chip) holds an image named name.
    void Pic32WithImage(const std::string& name) {
        const std::string image = File("chip.spic32");
        ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "2048", "--name", name, "-o", image}));
        std::ofstream(env.dir() + "/flash.bin", std::ios::binary) << Read(image);
        Launch("pic32", 0);
    }
    size_t Menus() const { return ZlSim::Count(sim->Received(), kMenu); }
    bool WaitForMenus(size_t n, seconds timeout = seconds(20)) {
        return sim->WaitFor([&](const ZlSim& s) { return ZlSim::Count(s.Received(), kMenu) >= n; }, timeout);
    }
    // SearchThread looks at its last byte once more on the quiet read that ends its
    // cycle, and so may set the answer flag a second time. When a tick consumed the
    // first, the flag stays set while connected, and the tick after the connection
    // ends starts InfoThread once more before it searches again. Read while
    // connected, long after the search.
    bool AnswerFlagLeftSet() const { return ui->dlg->m_bBootAnswered == 1; }
    void ExpectConnectedControls() {
        EXPECT_TRUE(ui->Enabled(IDC_READOUT));
        EXPECT_TRUE(ui->Enabled(IDC_COMPARE));
        EXPECT_FALSE(ui->Enabled(IDC_PORT));
        EXPECT_FALSE(ui->Enabled(IDC_DEVICE));
        EXPECT_FALSE(ui->Enabled(IDC_STOPSTART));
        EXPECT_TRUE(ui->WaitFor([&] { return ui->Enabled(IDC_DISCONNECT); }));
        EXPECT_EQ(ui->Text(IDC_STATUS), kConnected);
        EXPECT_EQ(ui->dlg->m_controls.GetPos(IDC_PROGRESS), 200);
        EXPECT_EQ(ui->Text(IDC_THREADS), u"b0 i1");
    }
    // After the device was switched off at offUs: the number of menu requests that
    // went out unanswered before the new search began, and when that search began.
    void MissesAfterPowerOff(int64_t offUs, size_t& misses, int64_t& searchUs) {
        const Stream rx(sim->Log(), "rx", offUs);
        const auto menus = rx.Find(kMenu);
        const size_t firstMenu = menus.empty() ? 0 : menus.front();
        const size_t wake = rx.Bytes().find(kWake, firstMenu);
        ASSERT_NE(wake, std::string::npos) << "no new search";
        misses = static_cast<size_t>(std::count_if(menus.begin(), menus.end(), [&](size_t p) { return p < wake; }));
        searchUs = rx.TimeAt(wake);
    }
};

TEST_F(InfoScenario, Pic32DeviceFoundFillsThePanelsAndTheSummary) {
    Pic32WithImage("Corvel-Neu");
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    Power(true);
    ASSERT_TRUE(Connected());
    // Each cycle resets the panels and then fills them, one after the other: wait for
    // a moment when all three are filled.
    std::u16string left, right, result;
    ASSERT_TRUE(ui->WaitFor([&] {
        left = ui->Text(IDC_FW_LEFT);
        right = ui->Text(IDC_FW_RIGHT);
        result = ui->Text(IDC_FW_RESULT);
        return left.rfind(u"aktuelle Firmware:", 0) == 0 && right.rfind(u"Firmware im Flash:", 0) == 0 &&
               result.size() > 1;
    }, seconds(10)));
    ExpectConnectedControls();
    EXPECT_EQ(left.size(), 152u);
    EXPECT_NE(left.find(u"Corvel-Neu"), std::u16string::npos);
    EXPECT_NE(right.find(u"Corvel-Neu"), std::u16string::npos);
    EXPECT_EQ(result, u"Update erfolgreich\r\n");

    // The summary and the device text are reset and set again in every cycle as well.
    const std::u16string heading = u"Interner Bootloader im Ger\u00e4t:";
    std::u16string summary;
    ASSERT_TRUE(ui->WaitFor([&] {
        summary = ui->dlg->m_strBootloaderSummary.Get();
        return summary.rfind(heading, 0) == 0;
    }));
    EXPECT_EQ(summary.size(), heading.size() + 140);
    EXPECT_EQ(summary.substr(heading.size(), 29), u"\nHersteller: Hallwyn Geraete ");
    EXPECT_TRUE(ui->WaitFor([&] { return ui->dlg->m_strDeviceInfo.Get().rfind(u"Bootloader:\r\nHersteller", 0) == 0; }));

    // The About box of the Info button shows that summary.
    EXPECT_TRUE(ui->WaitFor([&] {
        return ui->Click(IDC_INFO) && ui->platform.LastSubDialogControl(IDC_ABOUT_SUMMARY).text == summary;
    }));
    EXPECT_TRUE(ui->platform.Boxes().empty());

    // Switched to English, the next cycle shows the panels translated.
    ui->Menu(ID_LANGUAGE_ENGLISH);
    EXPECT_EQ(ui->Text(IDC_STATUS), u"device connected and ready");
    EXPECT_TRUE(ui->WaitFor([&] {
        return ui->Text(IDC_FW_LEFT).rfind(u" Current Firmware:", 0) == 0 &&
               ui->Text(IDC_FW_RIGHT).rfind(u"Firmware in Flash:", 0) == 0 &&
               ui->Text(IDC_FW_RESULT) == u"Previous update of firmware was successful.";
    }, seconds(10)));
    EXPECT_TRUE(ui->WaitFor([&] {
        return ui->dlg->m_strBootloaderSummary.Get().rfind(u"Internal bootloader of the device:\nProducer  : Hallwyn", 0) == 0;
    }));
}

TEST_F(InfoScenario, Pic32CycleRepeatsAboutEverySecondWithOnlyTheMenuRequest) {
    Launch("pic32", 0);
    Power(true);
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(WaitForMenus(6, seconds(30)));
    const auto log = sim->Log();
    const int64_t answered = sim->EventTime("answered");
    ASSERT_GE(answered, 0);
    const Stream rx(log, "rx", answered);
    const auto menus = rx.Find(kMenu);
    ASSERT_GE(menus.size(), 6u);
    // From the first request on the program sends nothing but menu requests.
    const std::string fromFirst = rx.Bytes().substr(menus.front());
    for (size_t i = 0; i < menus.size(); ++i) EXPECT_EQ(menus[i], menus.front() + i * kMenu.size()) << i;
    EXPECT_EQ(fromFirst.size() % kMenu.size(), 0u);
    // 500 ms, the drain, the request, 500 ms and the answer: a little over a second.
    for (size_t i = 1; i < menus.size(); ++i) {
        const int64_t gap = rx.DoneAt(menus[i], kMenu) - rx.DoneAt(menus[i - 1], kMenu);
        EXPECT_GE(gap, 950000) << "between requests " << i - 1 << " and " << i;
        EXPECT_LE(gap, 6000000) << "between requests " << i - 1 << " and " << i;
    }
    // The first request waits at least the 500 ms at the start of the cycle.
    EXPECT_GE(rx.DoneAt(menus.front(), kMenu) - answered, 500000);
    // Every request was answered with the self-description.
    EXPECT_GE(ZlSim::Count(sim->Sent(), "Bootloader:"), menus.size());
}

TEST_F(InfoScenario, Pic32SwitchedOffWhileConnectedIsDroppedAtTheFirstMiss) {
    Launch("pic32", 0);
    Power(true);
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(WaitForMenus(3));  // the cycle counter is past the misses tolerated at the start
    const bool leftSet = AnswerFlagLeftSet();
    Power(false);
    const int64_t off = sim->EventTime("power_off");
    ASSERT_GE(off, 0);
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching, seconds(20)));
    EXPECT_FALSE(ui->Enabled(IDC_DISCONNECT));
    EXPECT_FALSE(ui->Enabled(IDC_READOUT));
    EXPECT_TRUE(ui->Enabled(IDC_PORT));
    EXPECT_TRUE(ui->Enabled(IDC_DEVICE));
    EXPECT_TRUE(ui->Enabled(IDC_STOPSTART));
    EXPECT_TRUE(ui->WaitForText(IDC_FW_LEFT, u"Kein aktives Ger\u00e4t angeschlossen!"));
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return NewSearchAfterLastMenu(s); }));
    size_t misses = 0;
    int64_t search = 0;
    MissesAfterPowerOff(off, misses, search);
    // The first miss ends the connection (one more InfoThread run with the flag left set).
    EXPECT_EQ(misses, leftSet ? 2u : 1u) << Timeline(sim->Log(), off - 3000000);
    // Switched on again, it is found again.
    Power(true);
    ASSERT_TRUE(Connected());
}

TEST_F(InfoScenario, Pic32SwitchedOffRightAfterTheAnswerIsAskedThreeTimes) {
    Launch("pic32", 0);
    Power(true);
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("answered") >= 0; }));
    Power(false);
    const int64_t off = sim->EventTime("power_off");
    ASSERT_GE(off, 0);
    const int64_t answered = sim->EventTime("answered");
    ASSERT_TRUE(WaitForMenus(1));
    const bool leftSet = AnswerFlagLeftSet();
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching, seconds(20)));
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return NewSearchAfterLastMenu(s); }));
    // Requests answered before the switch-off count for the cycle counter as well.
    const Stream rx(sim->Log(), "rx", answered);
    size_t answeredRequests = 0;
    for (size_t p : rx.Find(kMenu))
        if (rx.DoneAt(p, kMenu) < off) ++answeredRequests;
    size_t misses = 0;
    int64_t search = 0;
    MissesAfterPowerOff(off, misses, search);
    // Counters 0 and 1 tolerate a miss, from 2 on the first miss ends the connection.
    const size_t expected = (answeredRequests >= 2 ? 1u : 3u - answeredRequests) + (leftSet ? 1u : 0u);
    EXPECT_EQ(misses, expected) << answeredRequests << " answered\n" << Timeline(sim->Log(), answered);
}

TEST_F(InfoScenario, HcsStaysConnectedUntilDisconnect) {
    Launch("hcs", 1);
    Power(true);
    ASSERT_TRUE(Connected());
    ExpectConnectedControls();
    EXPECT_EQ(ui->Text(IDC_FW_LEFT), u"\rSoftware:\tZL418NRD\rVersion:\t\tV04.07.1\rDatum:\t\t07.12.26");
    const int64_t connected = NowUs();
    Power(false);
    std::this_thread::sleep_for(seconds(3));
    EXPECT_EQ(ui->Text(IDC_STATUS), kConnected);
    EXPECT_EQ(ui->dlg->m_bInfoRunning, 1);
    EXPECT_TRUE(ui->Enabled(IDC_DISCONNECT));
    // Nothing goes out while an HCS device is connected.
    const Stream quiet(sim->Log(), "rx", connected + 100000);
    EXPECT_EQ(quiet.Bytes(), "");

    const int64_t clicked = NowUs();
    const milliseconds busy = ui->OnUi([&] { ui->dlg->OnCommand(IDC_DISCONNECT, BN_CLICKED); });
    EXPECT_GE(busy.count(), 2550);  // 1000 + drain + 50 + 1500 ms
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching, seconds(20)));
    // The HCS flood has no pauses: stop the new search soon, so that the log stays small.
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b2 i0"));
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_TRUE(ui->Click(IDC_STOPSTART));
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim& s) { return ZlSim::Count(s.Received(), kWake) > 0; }));
    const Stream rx(sim->Log(), "rx", clicked);
    const auto resets = rx.Find(kReset);
    ASSERT_EQ(resets.size(), 1u);
    EXPECT_EQ(resets.front(), 0u);  // the first bytes after the click
    const int64_t reset = rx.DoneAt(resets.front(), kReset);
    EXPECT_GE(reset - clicked, 1000000);
    EXPECT_LE(reset - clicked, 10000000);
    const size_t wake = rx.Bytes().find(kWake);
    ASSERT_NE(wake, std::string::npos);
    // 50 ms, 1500 ms for the HCS kind, then the 500 ms before every new search.
    EXPECT_GE(rx.TimeAt(wake) - reset, 2000000);
    EXPECT_LE(rx.TimeAt(wake) - reset, 15000000);
}

TEST_F(InfoScenario, Pic32DisconnectSendsTheResetAfterTheDrainAndItsPauses) {
    Launch("pic32", 0);
    Power(true);
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(WaitForMenus(2));
    ASSERT_TRUE(ui->WaitFor([&] { return ui->Enabled(IDC_DISCONNECT); }));
    const bool leftSet = AnswerFlagLeftSet();
    const int64_t clicked = NowUs();
    const milliseconds busy = ui->OnUi([&] { ui->dlg->OnCommand(IDC_DISCONNECT, BN_CLICKED); });
    EXPECT_GE(busy.count(), 3550);  // 1000 + drain + 50 + 2500 ms
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching, seconds(20)));
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim& s) {
        const std::string all = s.Received();
        const size_t r = all.rfind(kReset);
        return r != std::string::npos && all.find(kWake, r) != std::string::npos;
    }));
    const auto log = sim->Log();
    const Stream rx(log, "rx", clicked);
    const auto resets = rx.Find(kReset);
    ASSERT_EQ(resets.size(), 1u);
    // Before the reset at most the request of the cycle under way.
    const std::string before = rx.Bytes().substr(0, resets.front());
    EXPECT_TRUE(before.empty() || before == kMenu) << before.size() << " bytes before the reset";
    const int64_t reset = rx.DoneAt(resets.front(), kReset);
    EXPECT_GE(reset - clicked, 1000000);
    EXPECT_LE(reset - clicked, 10000000);
    // The drain ends only on a quiet line: the device sent nothing in the read
    // time-out before the reset went out.
    int64_t lastTx = -1;
    for (const auto& e : log)
        if (e.dir == "tx" && e.t_us < reset) lastTx = e.t_us;
    ASSERT_GE(lastTx, 0);
    EXPECT_GE(reset - lastTx, 10000);
    // 50 ms, 2500 ms for the PIC32 kind, then the 500 ms before every new search.
    const size_t wake = rx.Bytes().find(kWake, resets.front());
    ASSERT_NE(wake, std::string::npos);
    // Nothing in between (but the request of one more InfoThread run with the flag left set).
    EXPECT_EQ(rx.Bytes().substr(resets.front() + kReset.size(), wake - resets.front() - kReset.size()),
              leftSet ? kMenu : "");
    EXPECT_GE(rx.TimeAt(wake) - reset, 3000000);
    EXPECT_LE(rx.TimeAt(wake) - reset, 15000000);
    // zlsim's device runs its application after the reset and no longer answers.
    EXPECT_EQ(sim->Command("status").substr(0, 10), "ok running");
}

}  // namespace
}  // namespace zl::test
