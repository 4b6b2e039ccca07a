// The tick and the buttons that act on the protocol, with the real dialog on its
// user-interface thread and a small device on a pseudo-terminal.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "res/resources.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/pty_device.h"
#include "tests/support/temp_env.h"

namespace zl {
namespace {

using namespace std::chrono;
using test::DialogHarness;
using test::PtyDevice;

const std::u16string kSearching = u"Suche nach Ger\u00e4t";
const std::u16string kConnected = u"Ger\u00e4t angeschlossen und bereit";

class TickTest : public ::testing::Test {
protected:
    void SetUp() override {
        env.LinkPort(5, device.SlavePath());
        ui = std::make_unique<DialogHarness>(env);
        ui->Start();
    }
    void TearDown() override { ui.reset(); }

    test::TempEnv env;
    PtyDevice device;
    std::unique_ptr<DialogHarness> ui;
};

TEST_F(TickTest, StopClosesThePortAndStartSearchesAgain) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    ASSERT_TRUE(ui->WaitFor([&] { return device.Count("BoOt\r") > 20; }));
    ASSERT_TRUE(ui->Click(IDC_STOPSTART));
    EXPECT_EQ(ui->Text(IDC_STATUS), u"STOP - Port deaktiviert");
    EXPECT_EQ(ui->Text(IDC_STOPSTART), u"Start");
    for (int id : {IDC_AUTOLOAD_ON, IDC_AUTOLOAD_OFF, IDC_PORT, IDC_DEVICE}) EXPECT_FALSE(ui->Enabled(id)) << id;
    EXPECT_FALSE(ui->dlg->m_hPort.IsOpen());
    EXPECT_EQ(ui->dlg->m_controls.GetPos(IDC_PROGRESS), 0);
    std::this_thread::sleep_for(milliseconds(200));
    const size_t quiet = device.ReceivedBytes().size();
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_EQ(device.ReceivedBytes().size(), quiet);  // nothing on the line while stopped
    EXPECT_EQ(ui->Text(IDC_STATUS), u"STOP - Port deaktiviert");

    ASSERT_TRUE(ui->Click(IDC_STOPSTART));
    EXPECT_EQ(ui->Text(IDC_STOPSTART), u"Stop");
    EXPECT_TRUE(ui->Enabled(IDC_AUTOLOAD_ON));
    EXPECT_FALSE(ui->Enabled(IDC_AUTOLOAD_OFF));
    EXPECT_TRUE(ui->Enabled(IDC_PORT));
    EXPECT_TRUE(ui->Enabled(IDC_DEVICE));
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    ASSERT_TRUE(ui->WaitFor([&] { return device.ReceivedBytes().size() > quiet + 100; }));
}

TEST_F(TickTest, DeviceFoundThenDisconnectSendsTheResetAfterItsPauses) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    device.PowerOn();
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kConnected));
    EXPECT_EQ(ui->Text(IDC_THREADS), u"b0 i1");
    ASSERT_TRUE(ui->WaitFor([&] { return ui->Enabled(IDC_DISCONNECT); }));
    ASSERT_TRUE(ui->WaitFor([&] { return device.Count("\rSmenu\r") >= 1; }));
    const PortHandle before = ui->dlg->m_hPort.Get();

    const auto clicked = steady_clock::now();
    const milliseconds busy = ui->OnUi([&] { ui->dlg->OnCommand(IDC_DISCONNECT, BN_CLICKED); });
    EXPECT_GE(busy.count(), 3550);  // 1000 + drain + 50 + 2500 ms with the window unresponsive
    PtyDevice::Clock::time_point reset;
    ASSERT_TRUE(device.FindAfter("\rSreset\r", clicked, reset));
    EXPECT_GE(duration_cast<milliseconds>(reset - clicked).count(), 1000);
    EXPECT_EQ(device.Count("\rSreset\r"), 1u);
    // The next search reopens the port.
    ASSERT_TRUE(ui->WaitFor([&] { return ui->dlg->m_hPort.Get() != before && ui->dlg->m_hPort.IsOpen(); }));
    EXPECT_FALSE(ui->Enabled(IDC_DISCONNECT));
}

TEST_F(TickTest, QuitSendsTheResetAndEndsTheProcess) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    ui->Click(IDC_QUIT);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.ExitCode().has_value(); }));
    EXPECT_EQ(*ui->platform.ExitCode(), 0);
    // The wake-up thread goes on writing meanwhile: its strings may come between the bytes.
    ASSERT_TRUE(ui->WaitFor([&] {
        std::string bytes = device.ReceivedBytes();
        for (size_t p; (p = bytes.find("BoOt\r")) != std::string::npos;) bytes.erase(p, 5);
        return bytes.find("\rSreset\r") != std::string::npos;
    }));
}

TEST_F(TickTest, QuitAfterStopSendsNothing) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    ui->Click(IDC_STOPSTART);
    std::this_thread::sleep_for(milliseconds(200));
    ui->Click(IDC_QUIT);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.ExitCode().has_value(); }));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(device.Count("\rSreset\r"), 0u);
}

TEST_F(TickTest, QuitDuringATransferOnlyAsksToWait) {
    ui->OnUi([&] { ui->dlg->m_bTransferRunning = 1; });
    ui->Click(IDC_QUIT);
    EXPECT_FALSE(ui->platform.ExitCode().has_value());
    const auto boxes = ui->platform.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"Bitte warten Sie zun\u00e4chst das Ende des laufenden Prozesses ab.");
    EXPECT_EQ(boxes[0].title, u"BootloaderZL");
    EXPECT_EQ(boxes[0].type, MB_OK | MB_ICONINFORMATION);
    ui->OnUi([&] { ui->dlg->m_bTransferRunning = 0; });
}

TEST_F(TickTest, OpeningTheDeviceListEndsTheSearchAndClosingItStartsANewOne) {
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b2 i0"));
    const PortHandle before = ui->dlg->m_hPort.Get();
    ui->OpenList(IDC_DEVICE);
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b0 i0"));
    std::this_thread::sleep_for(milliseconds(700));
    EXPECT_EQ(ui->dlg->m_hPort.Get(), before);  // the tick waits while the list is open
    ui->CloseList(IDC_DEVICE);
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b2 i0"));
    EXPECT_NE(ui->dlg->m_hPort.Get(), before);
}

TEST_F(TickTest, OpeningThePortListRescansAndShowsAPortPluggedInMeanwhile) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearching));
    EXPECT_EQ(ui->dlg->m_controls.GetCount(IDC_PORT), 1);
    test::PtyPair plugged;
    env.LinkPort(9, plugged.SlavePath());
    ui->OpenList(IDC_PORT);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->dlg->m_bRescanDone == 1; }));
    ASSERT_EQ(ui->dlg->m_controls.GetCount(IDC_PORT), 2);
    EXPECT_EQ(ui->dlg->m_controls.GetLBText(IDC_PORT, 1), u"COM9");
    EXPECT_EQ(ui->dlg->m_controls.GetCurSel(IDC_PORT), 0);  // the selected port is kept
    ui->CloseList(IDC_PORT);
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b2 i0"));
}

}  // namespace
}  // namespace zl
