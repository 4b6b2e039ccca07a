// The Help box in both languages and the About boxes: the summary field, and the
// thread indicator that only a non-OK close of the Info button's box reveals.
#include <chrono>
#include <memory>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "platform/text_convert.h"
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

std::u16string Join(std::initializer_list<const char16_t*> lines) {
    std::u16string text;
    for (const char16_t* line : lines) text += line;
    return text;
}

const std::u16string kHelpTitleDe = u"Hilfe: Bootloader f\u00fcr ZL-Ger\u00e4te";
const std::u16string kHelpTitleEn = u"Help: Bootloader for ZL devices";

const std::u16string& HelpDe() {
    static const std::u16string text = Join({
        u"Sobald eine Software-Datei im Feld \"Automatisches Laden\" ausgew\u00e4hlt\n",
        u"ist, wird ein \u00fcber die Schnittstelle erkanntes, passendes Ger\u00e4t\n",
        u"automatisch mit dieser Software bespielt.\n",
        u"Die Erkennung der Ger\u00e4te geschieht ebenfalls automatisch, wenn\n",
        u"diese beim Ger\u00e4testart \u00fcber einen verf\u00fcgbaren COM-Port\n",
        u"angeschlossen sind.\n",
        u"Sollte die Erkennung nicht funktionieren, stellen Sie sicher, dass\n",
        u"der richtige COM-Port ausgew\u00e4hlt ist und w\u00e4hlen Sie ihn ggf. in\n",
        u"der linken Box neu an bzw. trennen Sie das angeschlossene Ger\u00e4t kurz\n",
        u"von der Stromversorgung.",
    });
    return text;
}

const std::u16string& HelpEn() {
    static const std::u16string text = Join({
        u"If a software file is specified in the \"Auto-Load\" panel, this file\n",
        u"is automatically transferred to a device that is connected via the\n",
        u"RS232 interface.\n",
        u"The devices are detected automatically at power-on, if they are\n",
        u"connected via the chosen COM port.\n",
        u"If a device is not recognized immediately, please check if the proper\n",
        u"COM port is chosen and/or select it once more from the box at the left.\n",
        u"Then try again to disconnect and reconnect the device's power supply.",
    });
    return text;
}

const std::u16string kNoDeviceDe = u"Kein aktives Ger\u00e4t angeschlossen!";
const std::u16string kNoDeviceEn = u"No active device is connected!";
const std::u16string kAboutName = u"Bootloader-Software f\u00fcr ZL-Ger\u00e4te\rVersion 1.23";

// A dialog without any serial port: nothing runs but what the test does.
class HelpAboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui = std::make_unique<DialogHarness>(env);
        ui->Start();
        ASSERT_TRUE(ui->platform.UiRunning());
    }
    void TearDown() override { ui.reset(); }
    ScriptPlatform::Box LastBox() const {
        const auto boxes = ui->platform.Boxes();
        return boxes.empty() ? ScriptPlatform::Box{} : boxes.back();
    }
    bool IndicatorVisible() const { return ui->dlg->m_controls.IsWindowVisible(IDC_THREADS); }
    std::u16string AboutSummary() const { return ui->platform.LastSubDialogControl(IDC_ABOUT_SUMMARY).text; }
    void SysCommand(unsigned command) {
        ui->OnUi([&] { ui->dlg->OnSysCommand(command); });
    }

    test::TempEnv env;
    std::unique_ptr<DialogHarness> ui;
};

TEST_F(HelpAboutTest, HelpBoxFollowsTheLanguageRightAfterEachSwitch) {
    struct Step {
        int menu;  // 0: no switch before the click
        const std::u16string& title;
        const std::u16string& text;
    };
    const Step steps[] = {
        {0, kHelpTitleDe, HelpDe()},
        {ID_LANGUAGE_ENGLISH, kHelpTitleEn, HelpEn()},
        {ID_LANGUAGE_GERMAN, kHelpTitleDe, HelpDe()},
        {ID_LANGUAGE_ENGLISH, kHelpTitleEn, HelpEn()},
    };
    size_t shown = 0;
    for (const Step& step : steps) {
        if (step.menu) ui->Menu(step.menu);
        ASSERT_TRUE(ui->Click(IDC_HELP));
        ASSERT_EQ(ui->platform.Boxes().size(), ++shown);
        const auto box = LastBox();
        EXPECT_EQ(ToUtf8(box.title), ToUtf8(step.title)) << "step " << shown;
        EXPECT_EQ(ToUtf8(box.text), ToUtf8(step.text)) << "step " << shown;
        EXPECT_EQ(box.type, static_cast<unsigned>(MB_OK | MB_ICONINFORMATION));
        EXPECT_TRUE(box.onUiThread);
    }
}

TEST_F(HelpAboutTest, InfoClosedWithOkLeavesTheIndicatorHidden) {
    ASSERT_FALSE(IndicatorVisible());
    ui->platform.SetSubDialogResult(IDOK);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_EQ(ui->platform.SubDialogCount(), 2);
    EXPECT_FALSE(IndicatorVisible());
    // The fixed texts of the box.
    EXPECT_EQ(ui->platform.LastSubDialogControl(kWindowId).text, u"Info");
    EXPECT_EQ(ui->platform.LastSubDialogControl(IDC_ABOUT_OK).text, u"OK");
    EXPECT_TRUE(ui->platform.Boxes().empty());
}

TEST_F(HelpAboutTest, InfoClosedWithoutOkShowsTheIndicatorForGood) {
    ui->platform.SetSubDialogResult(IDCANCEL);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_TRUE(IndicatorVisible());
    // A later close with OK does not hide it again.
    ui->platform.SetSubDialogResult(IDOK);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_TRUE(IndicatorVisible());
    EXPECT_EQ(ui->platform.SubDialogCount(), 2);
}

TEST_F(HelpAboutTest, SystemMenuAboutNeverShowsTheIndicator) {
    const auto menu = ui->dlg->m_controls.SysMenu();
    ASSERT_GE(menu.size(), 2u);
    EXPECT_EQ(menu[menu.size() - 2].command, 0u);  // the separator
    EXPECT_EQ(menu.back().command, static_cast<unsigned>(IDM_ABOUTBOX));
    EXPECT_EQ(menu.back().text, u"&Info - Bootloader for ZL");

    ui->dlg->m_strBootloaderSummary.Set(u"Interner Bootloader im Ger\u00e4t:something");
    for (int result : {IDCANCEL, IDOK, -1}) {
        ui->platform.SetSubDialogResult(result);
        SysCommand(IDM_ABOUTBOX);
        EXPECT_FALSE(IndicatorVisible()) << result;
        EXPECT_EQ(AboutSummary(), u"") << result;  // this box shows no summary
    }
    EXPECT_EQ(ui->platform.SubDialogCount(), 3);
    // The low four bits of the command do not matter; other commands open nothing.
    ui->platform.SetSubDialogResult(IDCANCEL);
    SysCommand(IDM_ABOUTBOX | 0x3);
    EXPECT_EQ(ui->platform.SubDialogCount(), 4);
    SysCommand(0x20);
    EXPECT_EQ(ui->platform.SubDialogCount(), 4);
    EXPECT_FALSE(IndicatorVisible());
}

TEST_F(HelpAboutTest, AboutSummaryFieldFollowsTheLanguageOnlyForTheNoDeviceMessage) {
    ui->platform.SetSubDialogResult(IDOK);
    ui->dlg->m_strBootloaderSummary.Set(kNoDeviceDe);
    ui->Menu(ID_LANGUAGE_ENGLISH);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_EQ(ToUtf8(AboutSummary()), ToUtf8(kNoDeviceEn));

    ui->dlg->m_strBootloaderSummary.Set(kNoDeviceEn);
    ui->Menu(ID_LANGUAGE_GERMAN);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_EQ(ToUtf8(AboutSummary()), ToUtf8(kNoDeviceDe));

    ui->dlg->m_strBootloaderSummary.Set(kNoDeviceDe);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_EQ(ToUtf8(AboutSummary()), ToUtf8(kNoDeviceDe));

    // Any other summary is shown as stored, in either language.
    const std::u16string summary = u"Interner Bootloader im Ger\u00e4t:Hallwyn  ZL-Corvel-6";
    ui->dlg->m_strBootloaderSummary.Set(summary);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_EQ(AboutSummary(), summary);
    ui->Menu(ID_LANGUAGE_ENGLISH);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_EQ(AboutSummary(), summary);
    EXPECT_FALSE(IndicatorVisible());
}

// With a search running, the revealed indicator shows the thread counts.
class HelpAboutSearchTest : public ::testing::Test {
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

TEST_F(HelpAboutSearchTest, EscapeRevealsTheThreadCountsAndTheyKeepChanging) {
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b2 i0"));
    EXPECT_FALSE(ui->dlg->m_controls.IsWindowVisible(IDC_THREADS));
    ui->platform.SetSubDialogResult(IDCANCEL);
    ASSERT_TRUE(ui->Click(IDC_INFO));
    EXPECT_TRUE(ui->dlg->m_controls.IsWindowVisible(IDC_THREADS));
    const std::regex form("b[0-9]+ i[0-9]+");
    EXPECT_TRUE(std::regex_match(ToUtf8(ui->Text(IDC_THREADS)), form)) << ToUtf8(ui->Text(IDC_THREADS));
    // The summary the search stored (no device yet) is in the box.
    EXPECT_EQ(ToUtf8(ui->platform.LastSubDialogControl(IDC_ABOUT_SUMMARY).text), ToUtf8(kNoDeviceDe));

    device.PowerOn();
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b0 i1", seconds(15)));
    EXPECT_TRUE(ui->dlg->m_controls.IsWindowVisible(IDC_THREADS));
}

}  // namespace
}  // namespace zl
