// The language menu: which controls a switch rewrites (and which it leaves alone),
// the Status line in each protocol state, the Auto-Load path line, and the choice
// remembered in the profile for the next start.
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>

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

// The controls a switch rewrites, with their German and English texts.
struct Switched {
    int id;
    std::u16string german;
    std::u16string english;
};

const std::vector<Switched>& SwitchedControls() {
    static const std::vector<Switched> table = {
        {IDC_DEVICE_LABEL, u"Ger\u00e4t:", u"Device:"},
        {IDC_AUTOLOAD_GROUP, u"Automatisches Dateiladen", u"Auto-Load"},
        {IDC_PATH_LABEL, u"Pfad:", u"Path:"},
        {IDC_AUTOLOAD_PATH, u"keine Datei spezifiziert (Auto-Load aus)", u"no file path chosen (Auto-Load off)"},
        {IDC_AUTOLOAD_ON, u"Auto-Load an", u"Auto-Load on"},
        {IDC_AUTOLOAD_OFF, u"Auto-Load aus", u"Auto-Load off"},
        {IDC_READOUT, u"Firmware -> Datei", u"Firmware -> File"},
        {IDC_COMPARE, u"mit Datei vergleichen", u"Compare to File"},
        {IDC_HELP, u"Hilfe...", u"Help..."},
        {IDC_QUIT, u"Beenden", u"Quit"},
        {IDC_DISCONNECT, u"Trennen", u"Disconnect"},
        {IDC_FW_LEFT, u"Kein aktives Ger\u00e4t angeschlossen!", u"No active device is connected!"},
    };
    return table;
}

const std::u16string kSearchingDe = u"Suche nach Ger\u00e4t";
const std::u16string kSearchingEn = u"searching for device";
const std::u16string kConnectedDe = u"Ger\u00e4t angeschlossen und bereit";
const std::u16string kConnectedEn = u"device connected and ready";
const std::u16string kStoppedDe = u"STOP - Port deaktiviert";

std::map<int, std::u16string> AllTexts(const DialogHarness& ui) {
    std::map<int, std::u16string> texts;
    for (int id : ui.dlg->m_controls.Ids()) texts[id] = ui.dlg->m_controls.GetWindowText(id);
    return texts;
}

// Checks that after a switch every control listed above shows the text of the
// language, except those in `keep`, and that every other control still shows what
// it showed before.
void ExpectSwitched(const std::map<int, std::u16string>& before, const std::map<int, std::u16string>& after,
                    bool english, std::initializer_list<int> keep = {}) {
    ASSERT_EQ(before.size(), after.size());
    std::map<int, std::u16string> expected = before;
    for (const Switched& s : SwitchedControls())
        if (std::find(keep.begin(), keep.end(), s.id) == keep.end()) expected[s.id] = english ? s.english : s.german;
    for (const auto& [id, text] : expected) {
        ASSERT_TRUE(after.count(id)) << id;
        EXPECT_EQ(ToUtf8(after.at(id)), ToUtf8(text)) << "control " << id;
    }
}

std::string ProfileWithPrevLang(const std::string& value) { return "PrevLang=" + value + "\n"; }

// A dialog without any serial port: the tick finds no port and stays idle, so
// nothing but the test changes the controls.
class QuietLanguageTest : public ::testing::Test {
protected:
    void StartUi(const std::string& profile = "") {
        ui = std::make_unique<DialogHarness>(env, profile);
        ui->Start();
        ASSERT_TRUE(ui->platform.UiRunning());
    }
    void TearDown() override { ui.reset(); }
    bool Checked(int command) const { return ui->dlg->m_controls.IsMenuChecked(command); }
    bool ProfileHas(const std::string& line) const {
        return env.ReadProfile().find(line) != std::string::npos;
    }

    test::TempEnv env;
    std::unique_ptr<DialogHarness> ui;
};

TEST_F(QuietLanguageTest, SwitchToEnglishAndBackRewritesExactlyTheListedControls) {
    StartUi();
    EXPECT_TRUE(Checked(ID_LANGUAGE_GERMAN));
    EXPECT_FALSE(Checked(ID_LANGUAGE_ENGLISH));
    const auto german = AllTexts(*ui);
    // The window comes up German from the template; the left panel is still empty.
    for (const Switched& s : SwitchedControls())
        if (s.id != IDC_FW_LEFT) EXPECT_EQ(ToUtf8(german.at(s.id)), ToUtf8(s.german)) << s.id;

    ui->Menu(ID_LANGUAGE_ENGLISH);
    const auto english = AllTexts(*ui);
    ExpectSwitched(german, english, true);
    EXPECT_TRUE(Checked(ID_LANGUAGE_ENGLISH));
    EXPECT_FALSE(Checked(ID_LANGUAGE_GERMAN));
    EXPECT_TRUE(ProfileHas("PrevLang=1"));
    // Texts common to both languages are untouched.
    EXPECT_EQ(english.at(kWindowId), u"Bootloader-Software: ZL | ZL-Version");
    EXPECT_EQ(english.at(IDC_PORT_LABEL), u"Port:");
    EXPECT_EQ(english.at(IDC_INFO), u"Info...");
    EXPECT_EQ(english.at(IDC_STOPSTART), u"Stop");
    EXPECT_EQ(english.at(ID_LANGUAGE_GERMAN), u"&Deutsch");
    EXPECT_EQ(english.at(ID_LANGUAGE_ENGLISH), u"&English");

    // Switching to the active language again changes nothing.
    ui->Menu(ID_LANGUAGE_ENGLISH);
    EXPECT_EQ(AllTexts(*ui), english);
    EXPECT_TRUE(Checked(ID_LANGUAGE_ENGLISH));

    ui->Menu(ID_LANGUAGE_GERMAN);
    const auto back = AllTexts(*ui);
    ExpectSwitched(english, back, false);
    EXPECT_TRUE(Checked(ID_LANGUAGE_GERMAN));
    EXPECT_FALSE(Checked(ID_LANGUAGE_ENGLISH));
    EXPECT_TRUE(ProfileHas("PrevLang=0"));
    // Back in German everything matches the start, but the left panel now holds the
    // no-device message.
    auto expected = german;
    expected[IDC_FW_LEFT] = u"Kein aktives Ger\u00e4t angeschlossen!";
    EXPECT_EQ(back, expected);
    EXPECT_TRUE(ui->platform.Boxes().empty());
}

TEST_F(QuietLanguageTest, SwitchWithAnAutoLoadFileLeavesTheShortenedPath) {
    StartUi();
    const std::string dir = env.dir() + "/a-rather-long-folder-name/with-more-levels/below-it/and-another-one";
    const std::u16string path = FromUtf8(dir + "/firmware-image.spic32");
    ui->platform.QueueFileAnswer(path);
    ASSERT_TRUE(ui->Click(IDC_AUTOLOAD_ON));
    ASSERT_EQ(ui->dlg->m_strAutoLoadPath.Get(), path);
    const std::u16string shown = ui->Text(IDC_AUTOLOAD_PATH);
    ASSERT_LT(shown.size(), path.size());  // too wide for the line: shortened

    const auto before = AllTexts(*ui);
    ui->Menu(ID_LANGUAGE_ENGLISH);
    ExpectSwitched(before, AllTexts(*ui), true, {IDC_AUTOLOAD_PATH});
    EXPECT_EQ(ui->Text(IDC_AUTOLOAD_PATH), shown);
    ui->Menu(ID_LANGUAGE_GERMAN);
    EXPECT_EQ(ui->Text(IDC_AUTOLOAD_PATH), shown);
    EXPECT_EQ(ui->dlg->m_strAutoLoadPath.Get(), path);

    // With the file withdrawn, the next switch writes the off text again.
    ui->Menu(ID_LANGUAGE_ENGLISH);
    ASSERT_TRUE(ui->Click(IDC_AUTOLOAD_OFF));
    EXPECT_EQ(ui->Text(IDC_AUTOLOAD_PATH), u"no file path chosen (Auto-Load off)");
    ui->Menu(ID_LANGUAGE_GERMAN);
    EXPECT_EQ(ui->Text(IDC_AUTOLOAD_PATH), u"keine Datei spezifiziert (Auto-Load aus)");
}

TEST_F(QuietLanguageTest, StoredEnglishBringsTheWindowUpInEnglish) {
    StartUi(ProfileWithPrevLang("1"));
    for (const Switched& s : SwitchedControls()) EXPECT_EQ(ToUtf8(ui->Text(s.id)), ToUtf8(s.english)) << s.id;
    EXPECT_TRUE(Checked(ID_LANGUAGE_ENGLISH));
    EXPECT_FALSE(Checked(ID_LANGUAGE_GERMAN));
    EXPECT_TRUE(ProfileHas("PrevLang=1"));
    EXPECT_EQ(ui->dlg->m_bEnglish, 1);
}

TEST_F(QuietLanguageTest, AnyStoredValueButZeroMeansEnglishAndIsWrittenBackAsOne) {
    StartUi(ProfileWithPrevLang("7"));
    EXPECT_EQ(ui->Text(IDC_QUIT), u"Quit");
    EXPECT_TRUE(Checked(ID_LANGUAGE_ENGLISH));
    EXPECT_TRUE(ProfileHas("PrevLang=1"));
    EXPECT_FALSE(ProfileHas("PrevLang=7"));
}

TEST_F(QuietLanguageTest, StoredZeroKeepsTheTemplateTexts) {
    StartUi(ProfileWithPrevLang("0"));
    for (const Switched& s : SwitchedControls())
        if (s.id != IDC_FW_LEFT) EXPECT_EQ(ToUtf8(ui->Text(s.id)), ToUtf8(s.german)) << s.id;
    EXPECT_NE(ui->Text(IDC_FW_LEFT), u"Kein aktives Ger\u00e4t angeschlossen!");  // no switch has run
    EXPECT_TRUE(Checked(ID_LANGUAGE_GERMAN));
    EXPECT_EQ(ui->dlg->m_bEnglish, 0);
}

// The Status line in the protocol states, with a small device on a pseudo-terminal.
class LanguageStatusTest : public ::testing::Test {
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

TEST_F(LanguageStatusTest, SearchingAndConnectedTextsFollowTheSwitch) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearchingDe));
    ui->Menu(ID_LANGUAGE_ENGLISH);
    EXPECT_EQ(ui->Text(IDC_STATUS), kSearchingEn);
    ui->Menu(ID_LANGUAGE_GERMAN);
    EXPECT_EQ(ui->Text(IDC_STATUS), kSearchingDe);
    ui->Menu(ID_LANGUAGE_ENGLISH);

    device.PowerOn();
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kConnectedEn));  // written by the connected state itself
    ui->Menu(ID_LANGUAGE_GERMAN);
    EXPECT_EQ(ui->Text(IDC_STATUS), kConnectedDe);
    EXPECT_EQ(ui->Text(IDC_DISCONNECT), u"Trennen");
    ui->Menu(ID_LANGUAGE_ENGLISH);
    EXPECT_EQ(ui->Text(IDC_STATUS), kConnectedEn);
}

TEST_F(LanguageStatusTest, AfterStopTheStatusLineKeepsTheOldLanguage) {
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearchingDe));
    ASSERT_TRUE(ui->Click(IDC_STOPSTART));
    ASSERT_EQ(ui->Text(IDC_STATUS), kStoppedDe);
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b0 i0"));  // both search threads have ended

    const auto before = AllTexts(*ui);
    ui->Menu(ID_LANGUAGE_ENGLISH);
    ExpectSwitched(before, AllTexts(*ui), true);  // the Status line among the untouched
    EXPECT_EQ(ui->Text(IDC_STATUS), kStoppedDe);
    EXPECT_EQ(ui->Text(IDC_STOPSTART), u"Start");

    // Start: the next search writes its text in the new language.
    ASSERT_TRUE(ui->Click(IDC_STOPSTART));
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, kSearchingEn));
}

}  // namespace
}  // namespace zl
