// Auto-Load of both device kinds against zlsim.
#include "platform/win32.h"
#include "tests/e2e/e2e_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

class LoadScenario : public Scenario {};

TEST_F(LoadScenario, Pic32DeviceIsLoadedOnceAndTheNextDeviceAgain) {
    Launch("pic32", 0, {});  // paced at the line rate, as a real device takes the blocks
    const std::string image = File("fw.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(64 * 1024), "--name", "Corvel-Neu", "-o", image}));
    AutoLoad(image);
    Power(true);
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim&) { return Loads() == 1; }, seconds(30)));
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("prog") >= 0; }, seconds(10)));
    EXPECT_EQ(Read(flash), Read(image));  // the flash holds the image byte for byte
    ASSERT_TRUE(ui->WaitFor([&] { return ui->Text(IDC_FW_LEFT).find(u"Corvel-Neu") != std::u16string::npos; },
                            seconds(20)));
    EXPECT_TRUE(ui->platform.Boxes().empty());
    EXPECT_NE(ui->Text(IDC_FW_RESULT).find(u"erfolgreich"), std::u16string::npos);
    // The record names the device before and after, and what crossed the line.
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.Records().size() == 1; }));
    const TransferRecord r = ui->platform.Records()[0];
    EXPECT_EQ(r.outcome, Outcome::Ok);
    EXPECT_TRUE(r.reachedDevice);
    EXPECT_EQ(r.port, u"\\\\.\\COM42");
    EXPECT_EQ(r.baud, 115200u);
    EXPECT_EQ(r.manufacturer, u"Hallwyn Geraete ");
    EXPECT_EQ(r.bytes, 64u * 1024);
    EXPECT_EQ(r.units, 128u);  // dots
    EXPECT_EQ(r.firmwareBefore.find(u"Corvel-Neu"), std::u16string::npos);
    EXPECT_NE(r.firmwareAfter.find(u"Corvel-Neu"), std::u16string::npos);
    EXPECT_GT(r.durationUs, 5'000'000);  // 64 KiB at the line rate
    // Still connected a while later, and not loaded a second time.
    std::this_thread::sleep_for(seconds(3));
    EXPECT_EQ(Loads(), 1u);
    EXPECT_EQ(ui->Text(IDC_STATUS), u"Ger\u00e4t angeschlossen und bereit");

    // Switched off: dropped, searched for again; switched on: loaded again.
    Power(false);
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Suche nach Ger\u00e4t", seconds(20)));
    Power(true);
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim&) { return Loads() == 2; }, seconds(30)));
}

TEST_F(LoadScenario, Pic32IncompatibleFileCancelledSendsNothing) {
    Launch("pic32", 0);
    const std::string image = File("other.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "4096", "--hardware", "ZL-Pallas-2c    ", "-o", image}));
    AutoLoad(image);
    ui->platform.SetBoxAnswer([](const ScriptPlatform::Box&) { return IDCANCEL; });
    Power(true);
    ASSERT_TRUE(ui->WaitFor([&] { return !ui->platform.Boxes().empty(); }, seconds(20)));
    EXPECT_EQ(ui->platform.Boxes()[0].title, u"Kompatibilit\u00e4t");
    ASSERT_TRUE(ui->WaitFor([&] { return ui->dlg->m_strAutoLoadPath.Empty(); }));
    std::this_thread::sleep_for(seconds(2));
    EXPECT_EQ(sim->EventTime("cmd", "load"), -1);  // no byte of the load went out
    EXPECT_TRUE(Connected());
}

TEST_F(LoadScenario, Pic32MissingDotsGiveTheLengthErrorAfterTheCopyCommand) {
    Launch("pic32", 0, {"--no-pacing", "--fault", "drop-dots=1"});
    const std::string image = File("fw.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "8192", "-o", image}));
    AutoLoad(image);
    Power(true);
    ASSERT_TRUE(ui->WaitFor([&] { return !ui->platform.Boxes().empty(); }, seconds(30)));
    EXPECT_EQ(ui->platform.Boxes()[0].title, u"Fehler");
    EXPECT_EQ(ui->platform.Boxes()[0].type, MB_OK | MB_ICONERROR);
    EXPECT_GE(sim->EventTime("cmd", "prog"), 0);
}

// A device (or a machine) too busy to acknowledge the last blocks within the read
// time-out: the dots that come late still count, and the good load is not called failed.
TEST_F(LoadScenario, Pic32DotsThatComeLateStillCount) {
    Launch("pic32", 0, {"--no-pacing", "--fault", "late-dots=400"});
    const std::string image = File("fw.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "8192", "-o", image}));
    AutoLoad(image);
    Power(true);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.Records().size() == 1; }, seconds(30)));
    EXPECT_EQ(ui->platform.Records()[0].outcome, Outcome::Ok);
    EXPECT_EQ(ui->platform.Records()[0].units, 16u);
    EXPECT_TRUE(ui->platform.Boxes().empty());
    EXPECT_EQ(Read(flash), Read(image));
}

TEST_F(LoadScenario, DeviceHangingUpDuringTheLoadEndsItAndTheProgramSearchesAgain) {
    Launch("pic32", 0, {"--no-pacing", "--fault", "hangup-after=20000"});
    const std::string image = File("fw.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(256 * 1024), "-o", image}));
    AutoLoad(image);
    Power(true);
    ASSERT_TRUE(ui->WaitFor([&] { return !ui->platform.Boxes().empty(); }, seconds(40)));
    EXPECT_EQ(ui->platform.Boxes()[0].title, u"Fehler");  // never reported as success
    // Back to the search: the port is gone, so its box comes and the tick holds.
    ASSERT_TRUE(ui->WaitFor([&] { return ui->dlg->m_bTransferRunning == 0 && ui->dlg->m_bInfoRunning == 0; },
                            seconds(30)));
}

TEST_F(LoadScenario, HcsFileGoesOutInPiecesAndTheReportIsShown) {
    Launch("hcs", 1, {});
    const std::string sx = File("fw.sx");
    ASSERT_TRUE(ZlSim::Zlfw({"sx", "--length", "3000", "-o", sx}));
    AutoLoad(sx);
    ui->Menu(ID_LANGUAGE_ENGLISH);
    Power(true);
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim&) { return Loads() == 1; }, seconds(30)));
    ASSERT_TRUE(ui->WaitForText(IDC_FW_LEFT, u"Load finished, 0 errors occurred\r\n", seconds(20)));
    EXPECT_EQ(Read(flash), Read(sx));
    EXPECT_TRUE(ui->platform.Boxes().empty());
    // The HCS device stays connected and is not loaded again.
    std::this_thread::sleep_for(seconds(2));
    EXPECT_EQ(Loads(), 1u);
    EXPECT_EQ(ui->Text(IDC_STATUS), u"device connected and ready");
}

TEST_F(LoadScenario, QuitDuringTheLoadOnlyAsksToWaitAndTheLoadGoesOn) {
    Launch("pic32", 0, {});  // paced at the line rate: the load takes seconds
    const std::string image = File("fw.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(32 * 1024), "-o", image}));
    AutoLoad(image);
    Power(true);
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(30)));
    ASSERT_TRUE(ui->Click(IDC_QUIT));
    ASSERT_EQ(ui->platform.Boxes().size(), 1u);
    EXPECT_EQ(ui->platform.Boxes()[0].text, u"Bitte warten Sie zun\u00e4chst das Ende des laufenden Prozesses ab.");
    EXPECT_FALSE(ui->platform.ExitCode().has_value());
    ASSERT_TRUE(sim->WaitFor([&](const ZlSim&) { return Loads() == 1; }, seconds(30)));
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("prog") >= 0; }, seconds(10)));
    EXPECT_EQ(Read(flash), Read(image));
    EXPECT_EQ(ZlSim::Count(sim->Received(), "\rSreset\r"), 0u);
    EXPECT_FALSE(ui->platform.ExitCode().has_value());
    std::this_thread::sleep_for(seconds(1));  // past the length check after the copy command
    EXPECT_EQ(ui->platform.Boxes().size(), 1u);  // the wait box only: the load was good
}

}  // namespace
}  // namespace zl::test
