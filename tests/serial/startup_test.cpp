// Start-up, the port list and the Port/Device box handlers, with real pseudo-terminals
// linked into a temporary port directory.
#include <termios.h>

#include <chrono>
#include <memory>

#include <gtest/gtest.h>

#include "app/bootloader_dlg.h"
#include "tests/support/script_platform.h"
#include "os/qsettings/qsettings_profile.h"
#include "platform/win32.h"
#include "res/resources.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_env.h"

namespace zl {
namespace {

using namespace std::chrono;

class StartupTest : public ::testing::Test {
protected:
    void Link(int n, const test::PtyPair& pty) { env.LinkPort(n, pty.SlavePath()); }
    // Builds the dialog and runs its initialisation and first show on this thread.
    void Start(const std::string& profile = "") {
        if (!profile.empty()) env.WriteProfile(profile);
        platform = std::make_unique<ScriptPlatform>();
        dlg = std::make_unique<CBootloaderZLDlg>(*platform);
        dlg->OnInitDialog();
        dlg->OnShowWindow(true, 0);
    }
    std::u16string Profile(const std::u16string& key) {
        return MakeQSettingsProfile(u"BootloaderZL")->GetProfileString(u"", key, u"<none>");
    }
    int ProfileInt(const std::u16string& key) {
        return MakeQSettingsProfile(u"BootloaderZL")->GetProfileInt(u"", key, -999);
    }
    Controls& c() { return dlg->m_controls; }

    test::TempEnv env;
    test::PtyPair com3, com7;
    std::unique_ptr<ScriptPlatform> platform;
    std::unique_ptr<CBootloaderZLDlg> dlg;
};

TEST_F(StartupTest, PortsListedInOrderFirstSelectedAndRemembered) {
    Link(7, com7);
    Link(3, com3);
    const auto t0 = steady_clock::now();
    Start();
    // Two scans, each after a 200 ms pause: the first show and its tick's re-scan.
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 400);
    ASSERT_EQ(c().GetCount(IDC_PORT), 2);
    EXPECT_EQ(c().GetLBText(IDC_PORT, 0), u"COM3");
    EXPECT_EQ(c().GetLBText(IDC_PORT, 1), u"COM7");
    const std::string dir = env.PortDir();
    EXPECT_EQ(c().Get(IDC_PORT).entries[1].tip, std::u16string(dir.begin(), dir.end()) + u"/com7");
    EXPECT_EQ(dlg->m_astrPortNames[0], u"\\\\.\\COM3");
    EXPECT_EQ(dlg->m_astrPortNames[1], u"\\\\.\\COM7");
    EXPECT_EQ(c().GetCurSel(IDC_PORT), 0);
    EXPECT_EQ(dlg->m_strPort.Get(), u"\\\\.\\COM3");
    EXPECT_EQ(Profile(u"PrevCOM"), u"\\\\.\\COM3");
    EXPECT_EQ(dlg->m_bPortHold, 0);
    EXPECT_EQ(dlg->m_bRescanDone, 0);
    EXPECT_FALSE(dlg->m_hPort.IsOpen());  // the start-up opens no port
    EXPECT_EQ(c().GetWindowText(kWindowId), u"Bootloader-Software: ZL | ZL-Version");
    EXPECT_TRUE(c().IsWindowVisible(IDC_STOPSTART));
    EXPECT_TRUE(c().IsWindowVisible(IDC_READOUT));
    EXPECT_FALSE(c().IsWindowEnabled(IDC_READOUT));
    EXPECT_FALSE(c().IsWindowEnabled(IDC_AUTOLOAD_OFF));
    EXPECT_EQ(c().GetFocus(), IDC_AUTOLOAD_ON);
    EXPECT_TRUE(c().IsMenuChecked(ID_LANGUAGE_GERMAN));
    ASSERT_EQ(c().SysMenu().size(), 2u);
    EXPECT_EQ(c().SysMenu()[1].command, 16u);
    EXPECT_EQ(c().SysMenu()[1].text, u"&Info - Bootloader for ZL");
}

TEST_F(StartupTest, RememberedPortIsMatchedExactly) {
    Link(3, com3);
    Link(7, com7);
    Start("PrevCOM=\\\\\\\\.\\\\COM7\n");
    EXPECT_EQ(c().GetCurSel(IDC_PORT), 1);
    EXPECT_EQ(dlg->m_strPort.Get(), u"\\\\.\\COM7");
}

TEST_F(StartupTest, RememberedPortInOtherCaseIsNotMatched) {
    Link(3, com3);
    Link(7, com7);
    Start("PrevCOM=\\\\\\\\.\\\\com7\n");
    EXPECT_EQ(c().GetCurSel(IDC_PORT), 0);
    EXPECT_EQ(Profile(u"PrevCOM"), u"\\\\.\\COM3");
}

TEST_F(StartupTest, RememberedDeviceAndLanguage) {
    Link(3, com3);
    Start("PrevDevice=2\nPrevLang=1\n");
    EXPECT_EQ(c().GetCurSel(IDC_DEVICE), 2);
    EXPECT_EQ(c().GetWindowText(IDC_DEVICE), u"Linkbox K7/9");
    EXPECT_EQ(dlg->m_bEnglish, 1);
    EXPECT_TRUE(c().IsMenuChecked(ID_LANGUAGE_ENGLISH));
    EXPECT_EQ(c().GetWindowText(IDC_QUIT), u"Quit");
    EXPECT_EQ(ProfileInt(u"PrevLang"), 1);
}

TEST_F(StartupTest, StoredMinusOneLeavesNoDeviceSelected) {
    Link(3, com3);
    Start("PrevDevice=255\n");
    EXPECT_EQ(c().GetCurSel(IDC_DEVICE), -1);
}

TEST_F(StartupTest, GarbageInTheProfileGivesDefaults) {
    Link(3, com3);
    Start("PrevDevice=Corvel\nPrevLang=1.5\nPrevCOM=@Invalid(\nunrelated=\"x\n");
    EXPECT_EQ(c().GetCurSel(IDC_DEVICE), 0);
    EXPECT_EQ(dlg->m_bEnglish, 0);
    EXPECT_EQ(c().GetCurSel(IDC_PORT), 0);
}

TEST_F(StartupTest, PortHeldByAnotherProgramIsLeftOut) {
    Link(3, com3);
    Link(7, com7);
    PortHandle held = CreatePortHandle(u"\\\\.\\COM3");
    ASSERT_NE(held, nullptr);
    Start();
    ASSERT_EQ(c().GetCount(IDC_PORT), 1);
    EXPECT_EQ(c().GetLBText(IDC_PORT, 0), u"COM7");
    held->Close();
}

TEST_F(StartupTest, NoPortLeavesEverythingEmptyAndTheTickIdle) {
    Start();
    EXPECT_EQ(c().GetCount(IDC_PORT), 0);
    EXPECT_EQ(dlg->m_strPort.Get(), u"");
    EXPECT_EQ(c().GetWindowText(IDC_STATUS), u"");
    dlg->OnTimer(1);
    EXPECT_FALSE(dlg->m_hPort.IsOpen());
    EXPECT_TRUE(platform->Boxes().empty());
}

TEST_F(StartupTest, PortBoxHandlersSetAndClearTheirFlags) {
    Link(3, com3);
    Link(7, com7);
    Start();
    dlg->m_bSearching = 1;
    dlg->OnPortDropDown();
    EXPECT_EQ(dlg->m_bSearching, 0);
    EXPECT_EQ(dlg->m_bPortHold, 1);
    EXPECT_EQ(c().GetPos(IDC_PROGRESS), 0);
    dlg->OnPortCloseUp();
    EXPECT_EQ(dlg->m_bPortHold, 0);
    EXPECT_EQ(dlg->m_bRescanDone, 0);

    c().SetEditText(IDC_PORT, u"typed text");  // ignored
    c().SetCurSel(IDC_PORT, 1);
    dlg->OnPortSelChange();
    EXPECT_EQ(dlg->m_strPort.Get(), u"\\\\.\\COM7");
    EXPECT_EQ(c().GetWindowText(IDC_PORT), u"COM7");
    EXPECT_EQ(Profile(u"PrevCOM"), u"\\\\.\\COM7");
    EXPECT_EQ(dlg->m_bPortHold, 0);
    EXPECT_EQ(dlg->m_bRescanDone, 0);
}

TEST_F(StartupTest, DeviceBoxWritesItsChoiceOnlyWhenTheListCloses) {
    Link(3, com3);
    Start("PrevDevice=0\n");
    dlg->m_strAutoLoadPath.Set(u"/tmp/fw.spic32");
    c().SetCurSel(IDC_DEVICE, 1);  // keyboard choice, list closed
    dlg->OnDeviceSelChange();
    EXPECT_EQ(ProfileInt(u"PrevDevice"), 0);
    EXPECT_TRUE(dlg->m_strAutoLoadPath.Empty());  // another device type switches Auto-Load off
    EXPECT_EQ(c().GetWindowText(IDC_AUTOLOAD_PATH), u"keine Datei spezifiziert (Auto-Load aus)");
    EXPECT_TRUE(c().IsWindowEnabled(IDC_AUTOLOAD_ON));
    EXPECT_FALSE(c().IsWindowEnabled(IDC_AUTOLOAD_OFF));

    dlg->OnDeviceDropDown();
    EXPECT_EQ(dlg->m_bDeviceListOpen, 1);
    dlg->OnTimer(1);
    EXPECT_FALSE(dlg->m_hPort.IsOpen());  // the tick waits while the list is open
    c().SetCurSel(IDC_DEVICE, 3);
    dlg->OnDeviceSelChange();
    dlg->OnDeviceCloseUp();
    EXPECT_EQ(ProfileInt(u"PrevDevice"), 3);
    EXPECT_EQ(dlg->m_bDeviceListOpen, 0);
    EXPECT_EQ(dlg->m_bPortHold, 0);
    c().SetCurSel(IDC_DEVICE, -1);
    dlg->OnDeviceCloseUp();
    EXPECT_EQ(ProfileInt(u"PrevDevice"), -1);
}

struct LineCase {
    int device;
    bool readout;
    speed_t speed;
    int timeoutMs;
};

class LineConfigTest : public StartupTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineConfigTest, SpeedAndReadTimeOutFollowTheDeviceKind) {
    const LineCase p = GetParam();
    Link(3, com3);
    Start();
    c().SetCurSel(IDC_DEVICE, p.device);
    const int r = p.readout ? OpenPortForReadout(u"\\\\.\\COM3", dlg.get()) : OpenPortForSearch(u"\\\\.\\COM3", dlg.get());
    ASSERT_EQ(r, 1);
    termios t{};
    ASSERT_EQ(tcgetattr(com3.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), p.speed);
    const auto t0 = steady_clock::now();
    uint8_t b;
    uint32_t n = 1;
    dlg->m_hPort.Get()->ReadFile(&b, 1, n);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_EQ(n, 0u);
    EXPECT_GE(took, p.timeoutMs - 1);
    EXPECT_LT(took, p.timeoutMs + 500);

    // A second opening while the port is open changes nothing.
    PortHandle before = dlg->m_hPort.Get();
    c().SetCurSel(IDC_DEVICE, p.device == 0 ? 1 : 0);
    EXPECT_EQ(OpenPortForSearch(u"\\\\.\\COM3", dlg.get()), 1);
    EXPECT_EQ(dlg->m_hPort.Get(), before);
    ASSERT_EQ(tcgetattr(com3.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), p.speed);
    ClosePort(dlg.get());
}

INSTANTIATE_TEST_SUITE_P(Kinds, LineConfigTest,
                         ::testing::Values(LineCase{0, false, B115200, 10}, LineCase{1, false, B57600, 40},
                                           LineCase{3, false, B57600, 40}, LineCase{-1, false, B57600, 40},
                                           LineCase{0, true, B115200, 400}, LineCase{2, true, B115200, 400}),
                         [](const ::testing::TestParamInfo<LineCase>& info) {
                             return std::string(info.param.readout ? "Readout" : "Search") + "Device" +
                                    (info.param.device < 0 ? std::string("None") : std::to_string(info.param.device));
                         });

TEST_F(StartupTest, APortThatCannotBeOpenedGivesOneBoxAndIsDroppedByTheRescan) {
    Link(3, com3);
    Link(7, com7);
    Start();
    env.UnlinkPort(3);  // unplugged after the start
    dlg->OnTimer(1);
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].text, u"Port ist nicht verf\u00fcgbar!");
    EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(dlg->m_bPortHold, 1);
    EXPECT_EQ(dlg->m_bSearching, 0);
    dlg->OnTimer(1);  // the one re-scan
    EXPECT_EQ(dlg->m_bRescanDone, 1);
    ASSERT_EQ(c().GetCount(IDC_PORT), 1);
    EXPECT_EQ(c().GetCurSel(IDC_PORT), -1);
    EXPECT_EQ(dlg->m_strPort.Get(), u"");
    dlg->OnTimer(1);
    EXPECT_EQ(platform->Boxes().size(), 1u);
}

}  // namespace
}  // namespace zl
