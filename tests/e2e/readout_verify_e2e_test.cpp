// Readout and verify against zlsim, and the search on a paced line.
#include "platform/win32.h"
#include "tests/e2e/e2e_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

class DeviceScenario : public Scenario {
protected:
    void Pic32WithFlash(size_t length, std::vector<std::string> args = {"--no-pacing"}) {
        image = File("flash-image.spic32");
        ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(length), "-o", image}));
        std::ofstream(env.dir() + "/flash.bin", std::ios::binary) << Read(image);
        Launch("pic32", 0, args);
        Power(true);
        ASSERT_TRUE(Connected());
    }
    std::string image;
};

TEST_F(DeviceScenario, ReadoutOfWholePacketsThenTheDeviceIsQueriedAgain) {
    Pic32WithFlash(1024);
    const std::string target = File("readout.spic32");
    ui->platform.QueueFileAnswer(FromUtf8(target));
    ASSERT_TRUE(ui->Click(IDC_READOUT));
    ASSERT_TRUE(ui->WaitFor([&] { return !ui->platform.Boxes().empty(); }, seconds(20)));
    const auto box = ui->platform.Boxes()[0];
    EXPECT_EQ(box.text, u"Datei empfangen: 2 Pakete \u00e0 512 Bytes\n\nSpeicherort:\n" + FromUtf8(target));
    EXPECT_EQ(Read(target), Read(image));
    // Afterwards the device is queried again with the readout settings still in force.
    const size_t menus = ZlSim::Count(sim->Received(), "\rSmenu\r");
    ASSERT_TRUE(Connected());
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim& s) { return ZlSim::Count(s.Received(), "\rSmenu\r") > menus; }));
    EXPECT_TRUE(ui->Enabled(IDC_READOUT));
}

// Readouts that end early or bring nothing leave the older file as it was.
TEST_F(DeviceScenario, IncompleteReadoutsLeaveTheOlderFileIntact) {
    Pic32WithFlash(1024, {"--no-pacing", "--fault", "readout-length=1030", "--fault", "make-split"});
    const std::string target = File("readout.spic32");
    std::ofstream(target) << "older";
    ui->platform.QueueFileAnswer(FromUtf8(target));
    ASSERT_TRUE(ui->Click(IDC_READOUT));
    ASSERT_TRUE(ui->WaitFor([&] { return !ui->platform.Boxes().empty(); }, seconds(20)));
    EXPECT_EQ(ui->platform.Boxes()[0].title, u"Fehler");
    EXPECT_EQ(ui->platform.Boxes()[0].text,
              u"Fehler beim Auslesen der Datei!\n\n2 Pakete \u00e0 512 Bytes + 6 Rest-Bytes empfangen\n\n\nSpeicherort:\n" +
                  FromUtf8(target + ".part"));
    EXPECT_EQ(Read(target), "older");
    const std::string got = Read(target + ".part");
    EXPECT_EQ(got.size(), 1030u);
    EXPECT_EQ(got.find("REST-OF-BURST"), std::string::npos);  // bytes after "Make beendet" are not the image

    ASSERT_EQ(sim->Command("fault clear").substr(0, 2), "ok");
    ASSERT_EQ(sim->Command("fault readout-length 0").substr(0, 2), "ok");
    ASSERT_TRUE(Connected());
    ui->platform.QueueFileAnswer(FromUtf8(target));
    ASSERT_TRUE(ui->Click(IDC_READOUT));
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.Boxes().size() == 2; }, seconds(20)));
    EXPECT_EQ(ui->platform.Boxes()[1].title, u"Fehler");
    EXPECT_EQ(Read(target), "older");
}

TEST_F(DeviceScenario, HcsDeviceIgnoresTheReadoutButton) {
    Launch("hcs", 2);
    Power(true);
    ASSERT_TRUE(Connected());
    ui->OnUi([&] { ui->dlg->OnReadoutButton(); });
    EXPECT_EQ(ui->dlg->m_bReadoutPending, 0);
    EXPECT_EQ(ui->dlg->m_bInfoRunning, 1);
}

// Paced at the line rate: the blocks take 2.8 s on the line, far longer than the
// program waits after the last one before it reads the device's marks.
TEST_F(DeviceScenario, VerifyOfTheSameFilePassesAndADifferentBlockFails) {
    constexpr size_t kBlocks = 64;
    Pic32WithFlash(kBlocks * 512, {});
    ui->platform.QueueFileAnswer(FromUtf8(image));
    ASSERT_TRUE(ui->Click(IDC_COMPARE));
    const bool first = ui->WaitFor([&] { return ui->platform.Boxes().size() == 1; }, seconds(20));
    ASSERT_TRUE(first);
    EXPECT_EQ(ui->platform.Boxes()[0].type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(ZlSim::Count(sim->Received(), "\rSverify\r"), 1u);

    std::string changed = Read(image);
    changed[2 * 512 + 7] ^= 0x55;  // the third block differs
    const std::string other = File("changed.spic32");
    std::ofstream(other, std::ios::binary) << changed;
    ASSERT_TRUE(Connected());
    ui->platform.QueueFileAnswer(FromUtf8(other));
    ASSERT_TRUE(ui->WaitFor([&] { return ui->Click(IDC_COMPARE); }, seconds(10)));
    const bool second = ui->WaitFor([&] { return ui->platform.Boxes().size() == 2; }, seconds(20));
    ASSERT_TRUE(second);
    const auto box = ui->platform.Boxes()[1];
    EXPECT_EQ(box.type, MB_OK | MB_ICONEXCLAMATION);
    const std::u16string marks = u"\n\n\n..?" + std::u16string(kBlocks - 3, u'.');  // a mark per block, the third differs
    ASSERT_GE(box.text.size(), marks.size());
    EXPECT_EQ(box.text.substr(box.text.size() - marks.size()), marks);
}

TEST_F(DeviceScenario, WakeUpStringsKeepTheLineBusyWithoutGaps) {
    Launch("pic32", 0, {});  // paced at 115200 baud, switched off
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Suche nach Ger\u00e4t"));
    std::this_thread::sleep_for(seconds(3));
    const auto log = sim->Log();
    int64_t previous = -1, widest = 0;
    std::string received;
    for (const auto& e : log) {
        if (e.dir != "rx") continue;
        received += e.bytes;
        if (previous >= 0) widest = std::max(widest, e.t_us - previous);
        previous = e.t_us;
    }
    ASSERT_GT(received.size(), 5000u);
    EXPECT_EQ(received.find_first_not_of("BoOt\r"), std::string::npos);
    EXPECT_LT(widest, 100000);  // never 100 ms without a wake-up on the line
}

}  // namespace
}  // namespace zl::test
