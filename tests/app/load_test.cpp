// LoadThread against an in-memory device, for both kinds.
#include "tests/app/transfer_fixture.h"
#include "platform/win32.h"
#include "protocol/device_info.h"

namespace zl {
namespace {

using namespace std::chrono;

const std::string kMaker = "Hallwyn Geraete ";   // 16 characters, as the device reports them
const std::string kHardware = "ZL-Corvel-6 Rev2";  // 16 characters
const std::u16string kDeviceText =
    u"Bootloader:\r\nHersteller: Hallwyn Geraete \r\nHardware  : ZL-Corvel-6 Rev2\r\n" + std::u16string(160, u'.');

class LoadTest : public test::TransferTest {
protected:
    // An image of n bytes whose identification area names this device.
    std::string Image(size_t n) {
        std::string s = Pattern(n);
        const std::string id = "ZLFW" + kMaker + kHardware;
        for (size_t i = 0; i < id.size() && i < n; ++i) s[i] = id[i];
        return s;
    }
    // A PIC32 loader: "Load gestartet", then one dot per whole block (less `missing`).
    void Pic32Device(int missing = 0, bool start = true) {
        auto blocks = std::make_shared<int>(0);
        Device([=](const std::string& all, const std::string& last) -> std::string {
            if (last.size() == 512) {
                ++*blocks;
                return *blocks > missing ? "." : "";
            }
            if (EndsWith(all, "\rSload\r")) return start ? "\r\nLoad gestartet\r\n" : "\r\nFehler\r\n";
            return "";
        });
    }
    void StartPic32(const std::string& path) {
        dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
        // The stored text is the translated one while the interface is English.
        std::u16string stored = kDeviceText;
        if (dlg->English()) ReplaceAll(stored, u"Hersteller", u"Producer  ");
        dlg->m_strDeviceInfo.Set(stored);
        dlg->m_strAutoLoadPath.Set(U(path));
        dlg->m_bTransferRunning = 1;
        Run(LoadThread);
    }
    std::string Blocks() {
        std::string sent;
        for (const auto& w : port->Writes())
            if (w.bytes.size() == 512) sent += w.bytes;
        return sent;
    }
};

TEST_F(LoadTest, Pic32ImageOfWholeBlocksGoesOutWholeAndIsCopiedToTheChip) {
    const std::string image = Image(512 * 9);
    Pic32Device();
    StartPic32(MakeFile("fw.spic32", image));
    EXPECT_TRUE(platform->Boxes().empty());
    EXPECT_EQ(Blocks(), image);
    const std::string written = port->Written();
    EXPECT_EQ(written.substr(0, 7), "\rSload\r");
    EXPECT_TRUE(EndsWith(written, "\rSprog\r"));
    EXPECT_EQ(written.size(), 7 + image.size() + 7);
    const ControlState bar = Left(IDC_PROGRESS);
    EXPECT_EQ(bar.hi, 9 * 512 / 2048 + 50);
    EXPECT_EQ(bar.pos, bar.hi);
    EXPECT_EQ(Left(IDC_STATUS).text, u"Kopiere von Flash auf Chip");
    EXPECT_EQ(dlg->m_bTransferRunning, 0);
    EXPECT_EQ(dlg->m_nInfoCycle, 1);
    EXPECT_TRUE(ScriptPlatform::WaitUntil([&] { return dlg->m_bInfoRunning == 1; }, seconds(2)));
}

TEST_F(LoadTest, Pic32MissingDotsGiveTheLengthErrorAfterTheCopyCommand) {
    const std::string image = Image(512 * 4);
    Pic32Device(1);
    StartPic32(MakeFile("fw.spic32", image));
    EXPECT_EQ(Blocks(), image);
    EXPECT_TRUE(EndsWith(port->Written(), "\rSprog\r"));
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
    EXPECT_EQ(platform->Boxes()[0].text,
              u"Laden der Software fehlerhaft.\n\nDie geladene Datei hat keine g\u00fcltige L\u00e4nge oder die "
              u"\u00dcbertragung wurde vorzeitig unterbrochen.");
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONERROR);
}

// An empty image, or one that is not a whole number of blocks, would put a truncated
// firmware on the chip: it is refused before a byte goes to the device.
TEST_F(LoadTest, Pic32FileOfNoWholeBlocksIsRefusedBeforeAnythingIsSent) {
    for (size_t length : {size_t{0}, size_t{512 * 4 + 100}}) {
        SCOPED_TRACE(length);
        SetUp();
        Pic32Device();
        dlg->m_strDeviceInfo.Set(u"Bootloader:\r\nHersteller: x\r\nHardware  : " + std::u16string(16, u'\xFFFF'));
        dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
        dlg->m_strAutoLoadPath.Set(U(MakeFile("fw.spic32", Image(length))));
        Run(LoadThread);
        EXPECT_EQ(port->Written(), "");
        ASSERT_EQ(platform->Boxes().size(), 1u);
        EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
        EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONERROR);
        TearDown();
    }
}

TEST_F(LoadTest, Pic32WithoutLoadStartSendsNothingMore) {
    Pic32Device(0, false);
    dlg->m_bEnglish = 1;
    StartPic32(MakeFile("fw.spic32", Image(2048)));
    EXPECT_EQ(port->Written(), "\rSload\r");
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Error");
    EXPECT_EQ(platform->Boxes()[0].text, u"Loading of the file could not be initiated.");
}

TEST_F(LoadTest, Pic32IncompatibleFileAsksAndCancelSwitchesAutoLoadOff) {
    Pic32Device();
    std::string other = Pattern(1024);  // names no device
    dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
    dlg->m_strDeviceInfo.Set(kDeviceText);
    const std::string path = MakeFile("other.spic32", other);
    dlg->m_strAutoLoadPath.Set(U(path));
    platform->SetBoxAnswer([](const ScriptPlatform::Box&) { return IDCANCEL; });
    Run(LoadThread);
    EXPECT_TRUE(port->Writes().empty());
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Kompatibilit\u00e4t");
    EXPECT_EQ(platform->Boxes()[0].type, MB_OKCANCEL | MB_ICONEXCLAMATION);
    EXPECT_TRUE(dlg->m_strAutoLoadPath.Empty());
    EXPECT_TRUE(dlg->m_controls.IsWindowEnabled(IDC_AUTOLOAD_ON));
    EXPECT_FALSE(dlg->m_controls.IsWindowEnabled(IDC_AUTOLOAD_OFF));
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_AUTOLOAD_PATH), u"keine Datei spezifiziert (Auto-Load aus)");
    EXPECT_TRUE(ScriptPlatform::WaitUntil([&] { return dlg->m_bInfoRunning == 1; }, seconds(2)));

    // OK loads it all the same.
    SetUp();
    Pic32Device();
    platform->SetBoxAnswer([](const ScriptPlatform::Box&) { return IDOK; });
    StartPic32(path);
    EXPECT_EQ(Blocks(), other);
}

TEST_F(LoadTest, AFileThatCannotBeOpenedIsNamedInAnErrorBox) {
    Pic32Device();
    const std::string missing = env.dir() + "/gone.spic32";
    StartPic32(missing);
    EXPECT_TRUE(port->Writes().empty());
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
    EXPECT_NE(platform->Boxes()[0].text.find(U(missing)), std::u16string::npos);
    EXPECT_EQ(dlg->m_bTransferRunning, 0);
    EXPECT_EQ(dlg->m_nInfoCycle, 1);

    // A directory is no firmware file either.
    SetUp();
    StartPic32(env.dir());
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_TRUE(port->Writes().empty());
}

TEST_F(LoadTest, AutoLoadSwitchedOffBeforeTheStartEndsQuietly) {
    Pic32Device();
    dlg->m_strAutoLoadPath.Set(u"");
    Run(LoadThread);
    EXPECT_TRUE(platform->Boxes().empty());
    EXPECT_TRUE(port->Writes().empty());
}

class HcsLoadTest : public test::TransferTest {
protected:
    void HcsDevice() {
        Device([](const std::string& all, const std::string& last) -> std::string {
            if (EndsWith(all, "\rSload\r")) return "Load gestartet\r\n";
            if (last.size() > 1 || all.size() > 7) {
                if (all.find("S9") != std::string::npos) return "ok\r\nLoad beendet, keine Fehler aufgetreten\r\n";
                return "ok\r\n";
            }
            return "";
        });
    }
    std::vector<size_t> Pieces() {
        std::vector<size_t> sizes;
        for (const auto& w : port->Writes())
            if (w.bytes.size() > 1) sizes.push_back(w.bytes.size());
        return sizes;
    }
};

TEST_F(HcsLoadTest, PiecesOfUpTo512BytesAndTheClosingReport) {
    HcsDevice();
    std::string sx = Pattern(1000);
    sx.replace(990, 4, "S9\r\n");
    dlg->m_controls.SetCurSel(IDC_DEVICE, 2);
    dlg->m_strAutoLoadPath.Set(U(MakeFile("fw.sx", sx)));
    Run(LoadThread);
    EXPECT_EQ(Pieces(), (std::vector<size_t>{512, 488}));
    EXPECT_EQ(Left(IDC_PROGRESS).hi, 1);
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_FW_LEFT), u"Load beendet, keine Fehler aufgetreten\r\n");
    EXPECT_EQ(Left(IDC_STATUS).text, u"Lade Software");
    EXPECT_TRUE(platform->Boxes().empty());
}

TEST_F(HcsLoadTest, OneByteFileAndTheEnglishReport) {
    HcsDevice();
    dlg->m_bEnglish = 1;
    dlg->m_controls.SetCurSel(IDC_DEVICE, -1);  // no selection: the HCS kind
    dlg->m_strAutoLoadPath.Set(U(MakeFile("one.sx", "S")));
    Device([](const std::string& all, const std::string&) -> std::string {
        if (EndsWith(all, "\rSload\r")) return "Load gestartet\r\n";
        if (all.size() == 8) return "Load beendet, 2 Fehler aufgetreten";
        return "";
    });
    Run(LoadThread);
    EXPECT_EQ(port->Written(), "\rSload\rS");
    EXPECT_EQ(Left(IDC_PROGRESS).hi, 0);
    EXPECT_EQ(dlg->m_controls.GetWindowText(IDC_FW_LEFT), u"Load finished, 2 errors occurred");
}

}  // namespace
}  // namespace zl
