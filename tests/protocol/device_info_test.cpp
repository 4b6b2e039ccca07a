// The display of a device text: the fixed windows of the summary and the panels, the
// English words that keep every position, the result line, and the HCS answer and
// end-of-load report.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "protocol/device_info.h"

namespace zl {
namespace {

using namespace std::string_literals;

const std::u16string kNoDevice[2] = {u"Kein aktives Ger\u00e4t angeschlossen!", u"No active device is connected!"};
const std::u16string kHeading[2] = {u"Interner Bootloader im Ger\u00e4t:", u"Internal bootloader of the device:"};
const std::u16string kOk = u"Previous update of firmware was successful.";
const std::u16string kErr = u"Previous update of firmware was erroneous. Error code: ";

// n characters running through the alphabet: no label, no replaced word, no full stop.
std::u16string Letters(size_t n) {
    std::u16string s;
    for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u'a' + i % 26));
    return s;
}

// A whole self-description. "aktuelle Firmware:" stands at 73, so the summary
// (+12 to +151 from "Bootloader:") ends with kCur1 and the left panel with kCur2;
// " im " straddles the two.
const std::u16string kCur1 = u"Name    : ZL-App Vierfach\r\nDatum   : 2023-05-01\r\nStand     : ";  // 61
const std::u16string kCur2 = u"im Feld, 2fach geprueft\r\nZiel    : ZL-Corvel-6 und -8\r\nGroesse : 128 KB\r\n";  // 73
const std::u16string kFlash = u"\r\nDatum     : 2023-06-02 erfolgreich\r\n";
const std::u16string kHead = u"Bootloader:\r\nHersteller: Hallwyn Geraete \r\nHardware  : ZL-Vierfach-Rev2\r\n";
const std::u16string kText = kHead + u"aktuelle Firmware:" + kCur1 + kCur2 + u"Firmware im Flash:" + kFlash;
// The same by hand in English.
const std::u16string kCur1En = u"Name    : ZL-App Vierfold\r\nDate    : 2023-05-01\r\nStand     : ";
const std::u16string kCur2En = u"in Feld, 2fold geprueft\r\nZiel    : ZL-Corvel-6 und -8\r\nGroesse : 128 KB\r\n";
const std::u16string kFlashEn = u"\r\nDate      : 2023-06-02 erfolgreich\r\n";
const std::u16string kHeadEn = u"Bootloader:\r\nProducer  : Hallwyn Geraete \r\nHardware  : ZL-Vierfold-Rev2\r\n";

TEST(ShowPic32, WholeDescriptionGerman) {
    ASSERT_EQ(kCur1.size(), 61u);
    ASSERT_EQ(kCur2.size(), 73u);
    const Pic32View v = ShowPic32(kText, false);
    EXPECT_EQ(v.deviceInfo, kText);
    EXPECT_EQ(v.summary, kHeading[0] + kHead.substr(12) + u"aktuelle Firmware:" + kCur1);
    EXPECT_EQ(v.left, u"aktuelle Firmware:" + kCur1 + kCur2);
    EXPECT_EQ(v.right, u"Firmware im Flash:" + kFlash);
    EXPECT_EQ(v.result, u"erfolgreich\r\n");
}

TEST(ShowPic32, WholeDescriptionEnglishKeepsEveryPosition) {
    const Pic32View v = ShowPic32(kText, true);
    EXPECT_EQ(v.deviceInfo, kHeadEn + u" Current Firmware:" + kCur1En + kCur2En + u"Firmware in Flash:" + kFlashEn);
    EXPECT_EQ(v.deviceInfo.size(), kText.size());
    EXPECT_EQ(v.summary, kHeading[1] + kHeadEn.substr(12) + u" Current Firmware:" + kCur1En);
    EXPECT_EQ(v.left, u" Current Firmware:" + kCur1En + kCur2En);
    EXPECT_EQ(v.right, u"Firmware in Flash:" + kFlashEn);
    EXPECT_EQ(v.result, kOk);
}

TEST(ShowPic32, EmptyTextResetsEverything) {
    for (int en = 0; en < 2; ++en) {
        const Pic32View v = ShowPic32(u"", en);
        EXPECT_EQ(v.deviceInfo, kNoDevice[en]);
        EXPECT_EQ(v.summary, kNoDevice[en]);
        EXPECT_EQ(v.left, kNoDevice[en]);
        EXPECT_EQ(v.right, u" ");
        EXPECT_EQ(v.result, u" ");
    }
}

TEST(ShowPic32, AbsentLabels) {
    for (int en = 0; en < 2; ++en) {
        const Pic32View v = ShowPic32(u"Bootloader\r\n", en);
        EXPECT_EQ(v.deviceInfo, u"Bootloader\r\n");
        EXPECT_EQ(v.summary, kNoDevice[en]);
        EXPECT_EQ(v.left, kNoDevice[en]);
        EXPECT_EQ(v.right, u"");
        EXPECT_EQ(v.result, u"");
    }
}

TEST(ShowPic32, ZeroCharacterHidesLabels) {
    for (int en = 0; en < 2; ++en) {
        const Pic32View v = ShowPic32(u"Bootloader\r\n\0Bootloader: aktuelle Firmware:"s + Letters(160), en);
        EXPECT_EQ(v.summary, kNoDevice[en]);
        EXPECT_EQ(v.left, kNoDevice[en]);
    }
}

// Characters after each label: 151 is one too few for the summary and the left panel.
struct Window {
    size_t n;            // characters from the label to the end of the text
    size_t summaryTail;  // characters appended to the heading
    size_t left;         // length of the left panel
    size_t right;        // length of the right panel
};
class Windows : public ::testing::TestWithParam<std::tuple<Window, bool>> {};

TEST_P(Windows, AtTheirBoundaries) {
    const auto [w, en] = GetParam();
    // "Bootloader:" at 15, after an earlier "Bootloader".
    EXPECT_EQ(ShowPic32(u"Bootloader V2\r\nBootloader: " + Letters(w.n - 12), en).summary, kHeading[en] + Letters(w.summaryTail));

    const std::u16string cur = en ? u" Current Firmware:" : u"aktuelle Firmware:";
    EXPECT_EQ(ShowPic32(u"Bootloader\r\naktuelle Firmware:" + Letters(w.n - 18), en).left,
              w.left ? cur + Letters(w.left - 18) : u"");

    const std::u16string flash = en ? u"Firmware in Flash:" : u"Firmware im Flash:";
    EXPECT_EQ(ShowPic32(u"Bootloader\r\nFirmware im Flash:" + Letters(w.n - 18), en).right, flash + Letters(w.right - 18));
}
INSTANTIATE_TEST_SUITE_P(ShowPic32, Windows,
                         ::testing::Combine(::testing::Values(Window{30, 0, 0, 30}, Window{151, 0, 0, 151},
                                                              Window{152, 140, 152, 152}, Window{153, 140, 152, 152}),
                                            ::testing::Bool()));

// The result line: the rest of the text from 23 characters after the first "Dat" that
// follows "Firmware i".
struct ResultCase {
    std::u16string text;
    std::u16string german;
    std::u16string english;
};
class ResultLine : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultLine, BothLanguages) {
    EXPECT_EQ(ShowPic32(GetParam().text, false).result, GetParam().german);
    EXPECT_EQ(ShowPic32(GetParam().text, true).result, GetParam().english);
}
const std::u16string kFlashHead = u"Bootloader\r\nFirmware im Flash:\rDatum     : 2023-06-02 ";
INSTANTIATE_TEST_SUITE_P(
    ShowPic32, ResultLine,
    ::testing::Values(ResultCase{kFlashHead + u"Update erfolgreich", u"Update erfolgreich", kOk},
                      ResultCase{kFlashHead + u"Fehlercode: 7 (CRC)", u"Fehlercode: 7 (CRC)", kErr + u"7"},
                      ResultCase{kFlashHead + u"Fehlercode: 7", u"Fehlercode: 7", kErr + u"7"},
                      ResultCase{kFlashHead + u"Fehlercode: ", u"Fehlercode: ", kErr},
                      ResultCase{kFlashHead + u"Fehlercode", u"Fehlercode", kErr},
                      ResultCase{kFlashHead + u"Fehlercode: 3, erfolgreich", u"Fehlercode: 3, erfolgreich", kOk},
                      ResultCase{kFlashHead + u"abgebrochen", u"abgebrochen", u"abgebrochen"},
                      // "Dat" 23 and 24 characters from the end
                      ResultCase{kFlashHead, u"", u""}, ResultCase{kFlashHead + u"X", u"X", u"X"},
                      // a "Dat" before "Firmware i" does not count
                      ResultCase{u"Bootloader\r\nDatum   : 2023-05-01\r\nFirmware im Flash:\rDatum     : 2023-06-02 ok",
                                 u"ok", u"ok"},
                      // no "Firmware i": the whole text is searched
                      ResultCase{u"Bootloader\rDatum     : 2023-06-02 ok", u"ok", u"ok"},
                      // no "Dat": taken as position -1, the rest begins at 22
                      ResultCase{u"Bootloader\r\nFirmware im Flash:\rStatus: ok", u"tus: ok", u"tus: ok"}));

struct NoFirmwareCase {
    std::u16string text;
    bool english;
    std::u16string right;
    std::u16string result;
};
class NoFirmware : public ::testing::TestWithParam<NoFirmwareCase> {};

TEST_P(NoFirmware, RightPanelAndResult) {
    const Pic32View v = ShowPic32(GetParam().text, GetParam().english);
    EXPECT_EQ(v.right, GetParam().right);
    EXPECT_EQ(v.result, GetParam().result);
}
const std::u16string kEmptyFlash = u"Bootloader\r\nFirmware im Flash:\r\nKeine Firmware geladen.\r\nDatum     : 02.06.2023 ok";
INSTANTIATE_TEST_SUITE_P(
    ShowPic32, NoFirmware,
    ::testing::Values(
        // cut back to the last full stop
        NoFirmwareCase{kEmptyFlash, false, u"Firmware im Flash:\r\nKeine Firmware geladen.\r\nDatum     : 02.06.", u""},
        NoFirmwareCase{kEmptyFlash, true, u"Firmware in Flash:\rNo firmware loaded.", u""},
        // no full stop: the panel stays uncut
        NoFirmwareCase{u"Bootloader\r\nFirmware im Flash:\r\nKeine Firmware geladen\r\n", false,
                       u"Firmware im Flash:\r\nKeine Firmware geladen\r\n", u""},
        NoFirmwareCase{u"Bootloader\r\nKeine Firmware geladen. Datum     : 2023-06-02 ok", false, u"", u""},
        NoFirmwareCase{u"Bootloader\r\nKeine Firmware geladen. Datum     : 2023-06-02 ok", true,
                       u"Firmware in Flash:\rNo firmware loaded.", u""},
        // behind a zero character the phrase is not seen
        NoFirmwareCase{u"Bootloader\r\nFirmware im Flash:\r\nDatum     : 2023-06-02 ok\0Keine Firmware geladen."s, false,
                       u"Firmware im Flash:\r\nDatum     : 2023-06-02 ok\0Keine Firmware geladen."s,
                       u"ok\0Keine Firmware geladen."s},
        NoFirmwareCase{u"Bootloader\r\nFirmware im Flash:\r\nDatum     : 2023-06-02 ok\0Keine Firmware geladen."s, true,
                       u"Firmware in Flash:\r\nDate      : 2023-06-02 ok\0Keine Firmware geladen."s,
                       u"ok\0Keine Firmware geladen."s}));

// HCS: software, version and date at 26, 34 and 42 from "BOOT".
struct HcsCase {
    std::u16string text;
    bool english;
    bool setLeft;
    std::u16string left;
    bool clearSummary;
};
class Hcs : public ::testing::TestWithParam<HcsCase> {};

TEST_P(Hcs, LeftPanel) {
    const HcsCase& c = GetParam();
    const HcsView v = ShowHcs(c.text, c.english);
    EXPECT_EQ(v.setLeft, c.setLeft);
    if (c.setLeft) {
        EXPECT_EQ(v.left, c.left);
    }
    EXPECT_EQ(v.clearSummary, c.clearSummary);
}
const std::u16string kAnswer = u"\r\nBOOT HCS-Loader ZL  Ready SW-ZL-07V 1.04  02.06.23\r\n>";
const std::u16string kFields = u"\rSoftware:\tSW-ZL-07\rVersion:\t\tV 1.04  \rDatum:\t\t02.06.23";
const std::u16string kNoFields = u"\rSoftware:\t\rDatum:\t\rVersion:\t\t\t";
INSTANTIATE_TEST_SUITE_P(
    ShowHcs, Hcs,
    ::testing::Values(HcsCase{kAnswer, false, true, kFields, true}, HcsCase{kAnswer, true, true, kFields, true},
                      // exactly 26 characters from "BOOT", and fewer
                      HcsCase{u"xBOOT HCS-Loader ZL  Ready ", false, true, kNoFields, true},
                      HcsCase{u"BOOT1", true, true, kNoFields, true},
                      HcsCase{u"BOOT HCS-Loader ZL  Ready 0123456789", false, true,
                              u"\rSoftware:\t01234567\rVersion:\t\t89\rDatum:\t\t", true},
                      HcsCase{u"ab\0"s + kAnswer, false, false, u"", false},
                      HcsCase{u"Load beendet, 2 Fehler aufgetreten", false, true, u"Load beendet, 2 Fehler aufgetreten",
                              false},
                      HcsCase{u"Load beendet, 2 Fehler aufgetreten", true, true, u"Load finished, 2 errors occurred", false},
                      HcsCase{u"Load gestartet", true, false, u"", false},
                      HcsCase{u"", false, true, kNoDevice[0], false}, HcsCase{u"", true, true, kNoDevice[1], false}));

}  // namespace
}  // namespace zl
