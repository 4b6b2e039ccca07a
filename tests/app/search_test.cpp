// The search threads against an in-memory port: the flood, the answer markers of
// both kinds, the closing burst and the counters.
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

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = std::make_unique<ScriptPlatform>();
        dlg = std::make_unique<CBootloaderZLDlg>(*platform);
    }
    void TearDown() override {
        dlg->m_bSearching = 0;
        if (search.joinable()) search.join();
        if (wake.joinable()) wake.join();
    }
    void StartSearch(int device, milliseconds readTimeout) {
        dlg->m_controls.SetCurSel(IDC_DEVICE, device);
        port = std::make_shared<FakePort>(readTimeout);
        dlg->m_hPort.Set(port);
        dlg->m_bSearching = 1;
        search = std::thread([this] { SearchThread(dlg.get()); });
        wake = std::thread([this] { WakeUpThread(dlg.get()); });
    }
    bool WaitFor(const std::function<bool()>& pred, milliseconds timeout = milliseconds(5000)) {
        return ScriptPlatform::WaitUntil(pred, timeout);
    }
    std::u16string Text(int id) { return dlg->m_controls.GetWindowText(id); }

    test::TempEnv env;
    std::unique_ptr<ScriptPlatform> platform;
    std::unique_ptr<CBootloaderZLDlg> dlg;
    std::shared_ptr<FakePort> port;
    std::thread search, wake;
};

TEST_F(SearchTest, Pic32FloodAnswerAndClosingBurst) {
    dlg->m_nInfoCycle = 7;
    StartSearch(0, milliseconds(10));
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_THREADS) == u"b2 i0"; }));
    EXPECT_EQ(Text(IDC_STATUS), u"Suche nach Ger\u00e4t");
    EXPECT_FALSE(dlg->m_controls.IsWindowEnabled(IDC_READOUT));
    EXPECT_TRUE(dlg->m_controls.IsWindowEnabled(IDC_STOPSTART));
    ASSERT_TRUE(WaitFor([&] { return port->CountWrites("BoOt\r") > 300; }));
    EXPECT_EQ(port->Written().find_first_not_of("BoOt\r"), std::string::npos);  // nothing but wake-ups
    EXPECT_EQ(dlg->m_bBootAnswered, 0);

    port->Feed("xy\xfflz");  // an 'l' anywhere in the bytes answers
    const std::thread::id searchId = search.get_id();
    search.join();
    const auto ended = steady_clock::now();
    wake.join();
    EXPECT_EQ(dlg->m_bBootAnswered, 1);
    EXPECT_EQ(dlg->m_bSearching, 0);
    EXPECT_EQ(dlg->m_nInfoCycle, 0);
    EXPECT_EQ(Text(IDC_THREADS), u"b0 i0");
    EXPECT_EQ(port->CountWrites("BoOt\r", searchId), 500u);
    const auto writes = port->Writes();
    auto last = writes.front().time;
    for (const auto& w : writes)
        if (w.thread == searchId) last = w.time;
    EXPECT_GE(duration_cast<milliseconds>(ended - last).count(), 299);  // the pause after the burst
}

TEST_F(SearchTest, Pic32WithDeviceListOpenSkipsTheBurst) {
    StartSearch(0, milliseconds(10));
    ASSERT_TRUE(WaitFor([&] { return port->CountWrites("BoOt\r") > 10; }));
    dlg->m_bDeviceListOpen = 1;
    const std::thread::id searchId = search.get_id();
    port->Feed("l");
    search.join();
    EXPECT_EQ(port->CountWrites("BoOt\r", searchId), 0u);
    EXPECT_EQ(dlg->m_bBootAnswered, 1);
}

TEST_F(SearchTest, CalledOffSearchLeavesTheAnswerFlagAlone) {
    dlg->m_nInfoCycle = 9;
    StartSearch(0, milliseconds(10));
    ASSERT_TRUE(WaitFor([&] { return Text(IDC_THREADS) == u"b2 i0"; }));
    dlg->m_bSearching = 0;
    search.join();
    wake.join();
    EXPECT_EQ(dlg->m_bBootAnswered, 0);
    EXPECT_EQ(dlg->m_nInfoCycle, 0);
    EXPECT_EQ(Text(IDC_THREADS), u"b0 i0");
}

TEST_F(SearchTest, ThreadsStartedDuringDisconnectEndAtOnce) {
    dlg->m_bDisconnecting = 1;
    StartSearch(0, milliseconds(10));
    search.join();
    wake.join();
    EXPECT_TRUE(port->Writes().empty());
    EXPECT_EQ(dlg->m_nWakeThreads, 0);
    EXPECT_EQ(Text(IDC_THREADS), u"X");  // never written
}

// The HCS answer: "BOOT " at 0, software at 26, version at 34, date at 42.
std::string HcsAnswer() {
    return std::string("BOOT ") + std::string(21, '-') + "SWNAME01" + "V1.02.03" + "07.12.26" + "\r\n";
}

TEST_F(SearchTest, HcsIgnoresBootWithoutBlankAndAnswersSplitOverCycles) {
    StartSearch(1, milliseconds(40));
    ASSERT_TRUE(WaitFor([&] { return port->CountWrites("BoOt\r") > 10; }));
    port->Feed("BOOT\r\n");
    std::this_thread::sleep_for(milliseconds(1200));
    EXPECT_EQ(dlg->m_bSearching, 1);
    port->Feed("BO");
    std::this_thread::sleep_for(milliseconds(700));
    port->Feed("OT ");
    std::this_thread::sleep_for(milliseconds(1200));
    EXPECT_EQ(dlg->m_bSearching, 1);
    EXPECT_EQ(dlg->m_bBootAnswered, 0);
    EXPECT_EQ(port->Written().find_first_not_of("BoOt\r"), std::string::npos);
}

TEST_F(SearchTest, HcsDropsNoiseOnlyBeforeTheFirstKeptCharacter) {
    StartSearch(2, milliseconds(40));
    ASSERT_TRUE(WaitFor([&] { return port->CountWrites("BoOt\r") > 10; }));
    const std::thread::id searchId = search.get_id();
    port->Feed(std::string("\r\n\0\xff\x80", 5) + HcsAnswer());
    search.join();
    wake.join();
    EXPECT_EQ(dlg->m_bBootAnswered, 1);
    EXPECT_EQ(port->CountWrites("BoOt\r", searchId), 0u);  // no closing burst for the HCS kind
    EXPECT_EQ(Text(IDC_FW_LEFT), u"\rSoftware:\tSWNAME01\rVersion:\t\tV1.02.03\rDatum:\t\t07.12.26");
}

TEST_F(SearchTest, HcsKeepsControlBytesAfterTheFirstKeptCharacter) {
    StartSearch(3, milliseconds(40));
    ASSERT_TRUE(WaitFor([&] { return port->CountWrites("BoOt\r") > 10; }));
    // Once "B" has been kept, a control byte inside the answer is kept too: with it
    // dropped, every field would move one place.
    port->Feed(std::string("\rBOOT ") + std::string(20, '-') + "\x01" + "SWNAME01" + "V1.02.03" + "07.12.26");
    search.join();
    EXPECT_EQ(dlg->m_bBootAnswered, 1);
    EXPECT_EQ(Text(IDC_FW_LEFT), u"\rSoftware:\tSWNAME01\rVersion:\t\tV1.02.03\rDatum:\t\t07.12.26");
}

}  // namespace
}  // namespace zl
