// The readout and the verify against an in-memory PIC32 device.
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <atomic>

#include "platform/win32.h"
#include "tests/app/transfer_fixture.h"

namespace zl {
namespace {

using namespace std::chrono;

class ReadoutTest : public test::TransferTest {
protected:
    // A device that prepares with "Make beendet" (after `prefix`) and then sends image.
    void ReadoutDevice(const std::string& image, const std::string& makeAnswer = "Make beendet\r\n") {
        Device([=](const std::string& all, const std::string&) -> std::string {
            if (EndsWith(all, "\rSmake\r")) return makeAnswer;
            if (EndsWith(all, "\rSread\r")) return image;
            return "";
        });
    }
    void Readout(const std::string& path) {
        dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
        port->SetCommTimeouts(COMMTIMEOUTS{1000, 0, 400, 0, 0});
        dlg->m_strReadoutPath.Set(U(path));
        dlg->m_bReadoutPending = 1;
        dlg->m_bTransferRunning = 1;
        Run(ReadoutThread);
    }
    void ExpectEnd() {
        EXPECT_EQ(dlg->m_bReadoutPending, 0);
        EXPECT_EQ(dlg->m_bTransferRunning, 0);
        EXPECT_EQ(dlg->m_bBootAnswered, 1);
        EXPECT_TRUE(dlg->m_controls.IsWindowEnabled(IDC_READOUT));
        EXPECT_TRUE(dlg->m_controls.IsWindowEnabled(IDC_COMPARE));
        EXPECT_TRUE(dlg->m_controls.IsWindowEnabled(IDC_AUTOLOAD_ON));
    }
};

TEST_F(ReadoutTest, WholePacketsGiveTheInformationBoxAndAnEqualFile) {
    const std::string image = Pattern(1024);
    ReadoutDevice(image);
    const std::string path = env.dir() + "/out.spic32";
    Readout(path);
    EXPECT_EQ(ReadFile(path), image);
    EXPECT_EQ(port->Written(), "\rSmake\r\rSread\r");
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"BootloaderZL");
    EXPECT_EQ(platform->Boxes()[0].text, u"Datei empfangen: 2 Pakete \u00e0 512 Bytes\n\nSpeicherort:\n" + U(path));
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(dlg->m_controls.GetPos(IDC_PROGRESS), 1000);
    ExpectEnd();
}

// An incomplete image never replaces the older file: it is kept beside it as .part.
TEST_F(ReadoutTest, ARestIsReportedAndEveryByteKeptBesideTheOlderFile) {
    const std::string image = Pattern(1030);
    ReadoutDevice(image);
    dlg->m_bEnglish = 1;
    const std::string path = env.dir() + "/out.spic32";
    std::ofstream(path) << "older";
    Readout(path);
    EXPECT_EQ(ReadFile(path), "older");
    EXPECT_EQ(ReadFile(path + ".part"), image);
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Error");
    EXPECT_EQ(platform->Boxes()[0].text,
              u"File readout erroneous!\n\n2 packets \u00e0 512 bytes + 6 additional bytes received.\n\n\nSave Folder:\n" +
                  U(path + ".part"));
    ExpectEnd();
}

// A line hung up mid-readout (the adapter pulled) ends the image early, even where it
// ends on a packet boundary: never a good readout.
TEST_F(ReadoutTest, APulledAdapterEndsTheImageAsIncompleteEvenOnAPacketBoundary) {
    const std::string image = Pattern(1024);
    test::FakePort* line = port.get();
    Device([=](const std::string& all, const std::string&) -> std::string {
        if (EndsWith(all, "\rSmake\r")) return "Make beendet\r\n";
        if (!EndsWith(all, "\rSread\r")) return "";
        line->HangUp();
        return image;
    });
    const std::string path = env.dir() + "/out.spic32";
    std::ofstream(path) << "older";
    Readout(path);
    EXPECT_EQ(ReadFile(path), "older");
    EXPECT_EQ(ReadFile(path + ".part"), image);
    ASSERT_EQ(platform->Records().size(), 1u);
    EXPECT_EQ(platform->Records()[0].cause, Cause::DeviceGone);
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONERROR);
}

TEST_F(ReadoutTest, MakeEndSplitOverTwoPassesIsFoundAndWhatFollowsItIsNotWritten) {
    const std::string image = Pattern(512);
    Device([=, this](const std::string& all, const std::string&) -> std::string {
        if (EndsWith(all, "\rSmake\r")) {
            // The second half comes a little later, in a read pass of its own.
            std::thread([device = port] {
                std::this_thread::sleep_for(milliseconds(250));
                device->Feed("eendet\r\nREST");
            }).detach();
            return "Bitte warten\r\nMake b";
        }
        if (EndsWith(all, "\rSread\r")) return image;
        return "";
    });
    const std::string path = env.dir() + "/out.spic32";
    Readout(path);
    EXPECT_EQ(ReadFile(path), image);
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONINFORMATION);
}

TEST_F(ReadoutTest, NothingAfterTheReadCommandIsAnErrorAndWritesNoFile) {
    ReadoutDevice("");
    const std::string path = env.dir() + "/empty.spic32";
    Readout(path);
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
    EXPECT_EQ(platform->Boxes()[0].text, u"Das Ger\u00e4t hat keine Daten gesendet.\nEs wurde keine Datei geschrieben.");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(env.dir()), {}), 1);  // the profile's folder only
}

TEST_F(ReadoutTest, ATargetThatCannotBeWrittenIsNeverReportedAsGood) {
    // The disk fills up after 1000 bytes: the older file stays, and nothing is left beside it.
    const std::string path = env.dir() + "/out.spic32";
    std::ofstream(path) << "older";
    ReadoutDevice(Pattern(2048));
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &small);
    Readout(path);
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
    EXPECT_EQ(platform->Boxes()[0].text.find(u"Die Datei kann nicht geschrieben werden:\n" + U(path)), 0u);
    EXPECT_EQ(ReadFile(path), "older");
    for (const auto& entry : std::filesystem::directory_iterator(env.dir()))
        EXPECT_TRUE(entry.is_directory() || entry.path() == path) << entry.path();
    ExpectEnd();

    SetUp();
    ReadoutDevice(Pattern(2048));
    Readout("/dev/full");  // not a regular file
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].text.find(u"Die Datei kann nicht geschrieben werden:\n/dev/full"), 0u);
    TearDown();

    SetUp();
    ReadoutDevice(Pattern(2048));
    Readout(env.dir() + "/no-such-folder/out.spic32");  // cannot be created, not even by root
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONERROR);
}

TEST_F(ReadoutTest, TheReadoutButtonActsOnlyForThePic32Kind) {
    for (int sel : {1, 2, 3, -1}) {
        dlg->m_controls.SetCurSel(IDC_DEVICE, sel);
        dlg->m_bInfoRunning = 1;
        dlg->OnReadoutButton();
        EXPECT_EQ(dlg->m_bReadoutPending, 0);
        EXPECT_EQ(dlg->m_bInfoRunning, 1);
    }
    dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
    dlg->OnReadoutButton();
    EXPECT_EQ(dlg->m_bReadoutPending, 1);
    EXPECT_EQ(dlg->m_bInfoRunning, 0);
}

TEST_F(ReadoutTest, CancellingTheSaveDialogWithdrawsTheRequest) {
    dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
    dlg->m_bReadoutPending = 1;
    dlg->StartReadout();  // no answer queued: the dialog is cancelled
    ASSERT_EQ(platform->FileRequests().size(), 1u);
    EXPECT_FALSE(platform->FileRequests()[0].open);
    EXPECT_EQ(platform->FileRequests()[0].filter, u"PIC32 Software (*.spic32) |*.spic32||");
    EXPECT_EQ(platform->FileRequests()[0].defExt, u"spic32");
    EXPECT_EQ(platform->FileRequests()[0].flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    EXPECT_EQ(dlg->m_bReadoutPending, 0);
    EXPECT_EQ(dlg->m_bReadoutStarted, 0);
    EXPECT_EQ(dlg->m_bBootAnswered, 1);  // the device is queried again
    EXPECT_TRUE(dlg->m_hPort.IsOpen());  // on the port as it was
}

class VerifyTest : public test::TransferTest {
protected:
    // A device that starts the verify and answers the blocks with final(blocks seen).
    void VerifyDevice(std::function<std::string(int)> final, bool start = true) {
        auto blocks = std::make_shared<std::atomic<int>>(0);  // read by the answering thread
        Device([=, this](const std::string& all, const std::string& last) -> std::string {
            if (EndsWith(all, "\rSverify\r")) {
                if (!start) return "?\r\n";
                // The final answer comes once the blocks have stopped.
                std::thread([device = port, blocks, final] {
                    std::this_thread::sleep_for(milliseconds(400));
                    device->Feed(final(*blocks));
                }).detach();
                return "Verify gestartet\r\n";
            }
            if (last.size() == 512) ++*blocks;
            return "";
        });
    }
    void Verify(const std::string& path) {
        dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
        dlg->m_strVerifyPath.Set(U(path));
        Run(VerifyThread);
    }
};

TEST_F(VerifyTest, MarksBeforeVerifyDecide) {
    struct Case {
        std::string answer;
        bool failed;
        std::u16string marks;
    };
    const Case cases[] = {
        {"..?.Verify beendet\r\n", true, u"..?."},
        {"....Verify beendet\r\n", false, u""},
        {"Verify beendet ?", true, u"?"},
        {"Verify beendet .", false, u""},
        {"?.\r\n", false, u""},  // without "Verify" the last character alone decides
        {"..?", true, u"?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        SetUp();
        VerifyDevice([&](int) { return c.answer; });
        const std::string path = MakeFile("fw.spic32", Pattern(2048));
        Verify(path);
        ASSERT_EQ(platform->Boxes().size(), 1u);
        const auto boxes = platform->Boxes();
        const auto& box = boxes[0];
        EXPECT_EQ(box.title, u"Software-Vergleich");
        if (c.failed) {
            EXPECT_EQ(box.type, MB_OK | MB_ICONEXCLAMATION);
            EXPECT_EQ(box.text, u"Die Datei (" + U(path) + u") stimmt nicht mit der Software im Flash \u00fcberein.\n\n\n" +
                                    c.marks);
        } else {
            EXPECT_EQ(box.type, MB_OK | MB_ICONINFORMATION);
            EXPECT_EQ(box.text, u"Die Datei (" + U(path) + u") und Software im Flash sind identisch.");
        }
        EXPECT_EQ(dlg->m_bTransferRunning, 0);
        TearDown();
    }
}

TEST_F(VerifyTest, AFileThatIsNoWholeNumberOfBlocksIsRefusedBeforeAnythingIsSent) {
    // Comparing the whole blocks alone would call a file with another tail identical.
    auto seen = std::make_shared<int>(-1);
    VerifyDevice([seen](int blocks) {
        *seen = blocks;
        return std::string(".Verify beendet");
    });
    dlg->m_bEnglish = 1;
    const std::string path = MakeFile("short.spic32", Pattern(1000));
    Verify(path);
    EXPECT_EQ(*seen, -1);
    EXPECT_EQ(port->Written(), "");
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(platform->Boxes()[0].text, u"The file cannot be read:\n" + U(path) +
                                             u"\n\nThe file has no valid length (a whole number of 512-byte blocks) and was not sent");
    ASSERT_EQ(platform->Records().size(), 1u);
    EXPECT_EQ(platform->Records()[0].outcome, Outcome::FileError);
    EXPECT_EQ(platform->Records()[0].cause, Cause::Length);
    EXPECT_FALSE(platform->Records()[0].reachedDevice);
    EXPECT_TRUE(ScriptPlatform::WaitUntil([&] { return dlg->m_bInfoRunning == 1; }, seconds(2)));
}

TEST_F(VerifyTest, NoStartEndsSilentlyAndNoAnswerIsNeverAMatch) {
    VerifyDevice([](int) { return std::string(); }, false);
    Verify(MakeFile("fw.spic32", Pattern(1024)));
    EXPECT_TRUE(platform->Boxes().empty());
    EXPECT_EQ(port->Written(), "\rSverify\r");
    EXPECT_TRUE(dlg->m_controls.IsWindowEnabled(IDC_COMPARE));

    SetUp();
    VerifyDevice([](int) { return std::string(); });
    Verify(MakeFile("fw.spic32", Pattern(1024)));
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(platform->Boxes()[0].text, u"Das Ger\u00e4t hat keine Antwort auf den Vergleich gesendet.");
}

TEST_F(VerifyTest, AFileThatCannotBeOpenedSendsNothing) {
    VerifyDevice([](int) { return std::string(".Verify"); });
    Verify(env.dir() + "/gone.spic32");
    EXPECT_TRUE(port->Writes().empty());
    ASSERT_EQ(platform->Boxes().size(), 1u);
    EXPECT_EQ(platform->Boxes()[0].title, u"Fehler");
}

TEST_F(VerifyTest, CompareWithoutADeviceOnlyStoresThePath) {
    dlg->m_controls.SetCurSel(IDC_DEVICE, 0);
    platform->QueueFileAnswer(u"/tmp/chosen.spic32");
    dlg->OnCompareButton();
    EXPECT_EQ(dlg->m_strVerifyPath.Get(), u"/tmp/chosen.spic32");
    EXPECT_EQ(platform->FileRequests().at(0).open, true);
    EXPECT_EQ(dlg->m_bTransferRunning, 0);
    dlg->m_controls.SetCurSel(IDC_DEVICE, 1);
    dlg->OnCompareButton();
    EXPECT_EQ(platform->FileRequests().size(), 1u);  // the HCS kind has no verify
}

}  // namespace
}  // namespace zl
