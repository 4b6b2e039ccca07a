// InfoThread against an in-memory device: the connected state, the menu request of
// every PIC32 cycle, the device-gone rule and the Auto-Load request.
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "app/bootloader_dlg.h"
#include "tests/support/script_platform.h"
#include "res/resources.h"
#include "tests/support/fake_port.h"
#include "tests/support/temp_env.h"

namespace zl {
namespace {

using namespace std::chrono;
using test::FakePort;

const std::string kMenu = "\rSmenu\r";

std::string Description() {
    return "\r\nBootloader:\r\nHersteller: Hallwyn Geraete \r\nHardware  : ZL-Corvel-6 Rev2\r\n" + std::string(200, '.');
}

class InfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = std::make_unique<ScriptPlatform>();
        dlg = std::make_unique<CBootloaderZLDlg>(*platform);
        port = std::make_shared<FakePort>(milliseconds(10));
        dlg->m_hPort.Set(port);
    }
    void TearDown() override {
        dlg->m_bInfoRunning = 0;
        if (info.joinable()) info.join();
    }
    // The device answers every menu request with answer(n), n counting the requests from 1.
    void Answer(std::function<std::string(int)> answer) {
        auto pending = std::make_shared<std::string>();
        auto count = std::make_shared<int>(0);
        port->SetResponder([pending, count, answer](const std::string& bytes) {
            *pending += bytes;
            if (pending->size() >= kMenu.size() && pending->compare(pending->size() - kMenu.size(), kMenu.size(), kMenu) == 0) {
                pending->clear();
                return answer(++*count);
            }
            return std::string();
        });
    }
    void Start(int device, int cycle) {
        dlg->m_controls.SetCurSel(IDC_DEVICE, device);
        dlg->m_nInfoCycle = static_cast<uint8_t>(cycle);
        dlg->m_bInfoEnded = 0;
        info = std::thread([this] { result = InfoThread(dlg.get()); });
    }
    size_t MenuRequests() { return port->CountWrites("\r") / 2; }
    bool Enabled(int id) { return dlg->m_controls.IsWindowEnabled(id); }

    test::TempEnv env;
    std::unique_ptr<ScriptPlatform> platform;
    std::unique_ptr<CBootloaderZLDlg> dlg;
    std::shared_ptr<FakePort> port;
    std::thread info;
    unsigned result = 99;
};

TEST_F(InfoTest, Pic32ConnectedStateAndOneMenuRequestPerCycle) {
    Answer([](int) { return Description(); });
    Start(0, 0);
    ASSERT_TRUE(ScriptPlatform::WaitUntil([&] { return MenuRequests() >= 2; }, seconds(5)));
    EXPECT_TRUE(Enabled(IDC_READOUT));
    EXPECT_TRUE(Enabled(IDC_COMPARE));
    EXPECT_FALSE(Enabled(IDC_PORT));
    EXPECT_FALSE(Enabled(IDC_DEVICE));
    EXPECT_FALSE(Enabled(IDC_STOPSTART));
    EXPECT_TRUE(Enabled(IDC_DISCONNECT));
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_STATUS), u"Ger\u00e4t angeschlossen und bereit");
    EXPECT_EQ(dlg->m_controls.GetPos(IDC_PROGRESS), 200);
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_THREADS), u"b0 i1");
    EXPECT_EQ(dlg->m_strDeviceInfo.Get().substr(0, 11), u"Bootloader:");
    // Each request goes out as seven writes of one byte.
    const auto writes = port->Writes();
    std::string all;
    for (const auto& w : writes) {
        EXPECT_EQ(w.bytes.size(), 1u);
        all += w.bytes;
    }
    EXPECT_EQ(all.substr(0, 14), kMenu + kMenu);
    dlg->m_bInfoRunning = 0;
    info.join();
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(dlg->m_bInfoEnded, 1);
    EXPECT_FALSE(Enabled(IDC_DISCONNECT));
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_THREADS), u"b0 i0");
}

TEST_F(InfoTest, SilentDeviceIsDroppedAfterTheMissesTheCounterAllows) {
    Answer([](int) { return std::string(); });
    Start(0, 0);  // right after a search: counters 0 and 1 are tolerated
    info.join();
    EXPECT_EQ(MenuRequests(), 3u);
    EXPECT_EQ(dlg->m_bInfoRunning, 0);
    EXPECT_EQ(dlg->m_bInfoEnded, 1);
    EXPECT_EQ(dlg->m_bLoadPending, 0);
}

TEST_F(InfoTest, ALineHungUpSinceTheAnswerShowsNoConnection) {
    // The adapter pulled between the device's answer and the connected state: it must not
    // look connected, not even for one cycle.
    Answer([](int) { return Description(); });
    dlg->m_controls.SetWindowText(IDC_STATUS, u"Suche nach Ger\u00e4t");
    port->HangUp();
    Start(0, 0);
    info.join();
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_STATUS), u"Suche nach Ger\u00e4t");
    EXPECT_FALSE(Enabled(IDC_READOUT));
    EXPECT_EQ(MenuRequests(), 0u);
    EXPECT_EQ(dlg->m_bInfoEnded, 1);
    EXPECT_EQ(dlg->m_nInfoThreads, 0);
}

TEST_F(InfoTest, AfterALoadOneMissIsTolerated) {
    Answer([](int) { return std::string(); });
    Start(0, 1);
    info.join();
    EXPECT_EQ(MenuRequests(), 2u);
}

TEST_F(InfoTest, AnAnswerBeginningWithBootloaderCountsAsMissing) {
    Answer([](int) { return Description().substr(2); });
    Start(0, 2);
    info.join();
    EXPECT_EQ(MenuRequests(), 1u);
}

TEST_F(InfoTest, AutoLoadIsRequestedInTheFirstCycleWithAnAnswer) {
    dlg->m_strAutoLoadPath.Set(u"/tmp/image.spic32");
    Answer([](int) { return Description(); });
    Start(0, 0);
    info.join();
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(MenuRequests(), 1u);
    EXPECT_EQ(dlg->m_bLoadPending, 1);
    EXPECT_EQ(dlg->m_bInfoEnded, 1);
    EXPECT_EQ(dlg->m_bInfoRunning, 0);
    EXPECT_FALSE(Enabled(IDC_DISCONNECT));
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_THREADS), u"b0 i0");
}

TEST_F(InfoTest, NoAutoLoadWhenTheFirstAnswerWasMissing) {
    dlg->m_strAutoLoadPath.Set(u"/tmp/image.spic32");
    Answer([](int n) { return n == 1 ? std::string() : Description(); });
    Start(0, 0);
    ASSERT_TRUE(ScriptPlatform::WaitUntil([&] { return MenuRequests() >= 3; }, seconds(6)));
    EXPECT_EQ(dlg->m_bLoadPending, 0);
    EXPECT_EQ(dlg->m_bInfoRunning, 1);
}

TEST_F(InfoTest, HcsSendsNothingAndAsksForTheLoadAfterItsFirstCycle) {
    dlg->m_controls.SetCurSel(IDC_DEVICE, 1);
    Start(1, 0);
    std::this_thread::sleep_for(milliseconds(1300));
    EXPECT_EQ(dlg->m_bInfoRunning, 1);  // without an Auto-Load file it stays connected
    dlg->m_bInfoRunning = 0;
    info.join();
    EXPECT_TRUE(port->Writes().empty());

    dlg->m_strAutoLoadPath.Set(u"/tmp/file.sx");
    const auto t0 = steady_clock::now();
    Start(1, 0);
    info.join();
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(dlg->m_bLoadPending, 1);
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 499);
    EXPECT_TRUE(port->Writes().empty());
}

}  // namespace
}  // namespace zl
