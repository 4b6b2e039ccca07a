// The accidents of a bench against zlsim: the adapter pulled in every phase and plugged
// back, the program ended during and after a transfer, files that must not be loaded,
// and a device that never stops talking.
#include <sys/stat.h>

#include <future>

#include "platform/serial.h"
#include "platform/win32.h"
#include "tests/e2e/e2e_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

const std::u16string kPortLostBox = u"Port ist nicht verf\u00fcgbar!";

enum class Phase { Searching, ConnectedPic32, ConnectedHcs, Loading, Reading, Verifying };

class LostPortScenario : public Scenario, public ::testing::WithParamInterface<Phase> {
protected:
    size_t PortBoxes() const {
        size_t n = 0;
        for (const auto& box : ui->platform.Boxes()) n += box.text == kPortLostBox;
        return n;
    }
    // Brings the program into the phase, with the device paced at the line rate so that
    // the transfers take long enough to be interrupted.
    void EnterPhase(Phase phase) {
        const bool hcs = phase == Phase::ConnectedHcs;
        const std::string image = File("fw.spic32");
        ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(64 * 1024), "-o", image}));
        if (phase == Phase::Reading || phase == Phase::Verifying)
            std::ofstream(env.dir() + "/flash.bin", std::ios::binary) << Read(image);
        Launch(hcs ? "hcs" : "pic32", hcs ? 1 : 0, {});
        if (phase == Phase::Searching) {
            ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Suche nach Ger\u00e4t"));
            return;
        }
        if (phase == Phase::Loading) AutoLoad(image);
        Power(true);
        std::string command;
        if (phase == Phase::Loading) {
            command = "load";
        } else {
            ASSERT_TRUE(Connected());
            if (phase == Phase::Reading) {
                ui->platform.QueueFileAnswer(FromUtf8(File("readout.spic32")));
                ASSERT_TRUE(ui->Click(IDC_READOUT));
                command = "read";
            } else if (phase == Phase::Verifying) {
                ui->platform.QueueFileAnswer(FromUtf8(image));
                ASSERT_TRUE(ui->Click(IDC_COMPARE));
                command = "verify";
            }
        }
        if (!command.empty())
            ASSERT_TRUE(sim->WaitFor([&](const ZlSim& s) { return s.EventTime("cmd", command) >= 0; }, seconds(30)));
    }
};

TEST_P(LostPortScenario, IsToldOnceAndTakenUpAgainWhenThePortComesBack) {
    EnterPhase(GetParam());
    ASSERT_EQ(sim->Command("unplug").substr(0, 2), "ok");

    // The loss is said once, and the window tells the truth while the port is away: a
    // device on a line that is gone is never shown as connected again.
    const bool wasConnected = ui->Text(IDC_STATUS) == u"Ger\u00e4t angeschlossen und bereit";
    bool connectedAgain = false;
    ASSERT_TRUE(ui->WaitFor([&] {
        const bool connected = ui->Text(IDC_STATUS) == u"Ger\u00e4t angeschlossen und bereit";
        connectedAgain = connectedAgain || (connected && !wasConnected);
        return PortBoxes() == 1;
    }, seconds(15)));
    EXPECT_FALSE(connectedAgain);
    EXPECT_EQ(ui->platform.Boxes().back().type, MB_OK | MB_ICONEXCLAMATION);
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Port nicht verf\u00fcgbar - warte auf COM42"));
    std::this_thread::sleep_for(seconds(2));
    EXPECT_EQ(PortBoxes(), 1u);
    EXPECT_EQ(ui->dlg->m_controls.Get(IDC_PROGRESS).pos, 0);
    EXPECT_TRUE(ui->Enabled(IDC_PORT));
    EXPECT_TRUE(ui->Enabled(IDC_DEVICE));
    EXPECT_TRUE(ui->Enabled(IDC_STOPSTART));
    EXPECT_FALSE(ui->Enabled(IDC_DISCONNECT));
    EXPECT_EQ(ui->dlg->m_bTransferRunning, 0);
    if (GetParam() == Phase::Loading || GetParam() == Phase::Reading || GetParam() == Phase::Verifying) {
        ASSERT_EQ(ui->platform.Records().size(), 1u);
        EXPECT_EQ(ui->platform.Records()[0].outcome, Outcome::TransferFailed);
        EXPECT_EQ(ui->platform.Records()[0].cause, Cause::DeviceGone);
    }

    // Plugged back: listed, selected and searched on again by itself.
    ASSERT_EQ(sim->Command("plug").substr(0, 2), "ok");
    const auto plugged = steady_clock::now();
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Suche nach Ger\u00e4t", seconds(5)));
    EXPECT_LE(duration_cast<milliseconds>(steady_clock::now() - plugged).count(), 2000);
    EXPECT_EQ(ui->Text(IDC_PORT), u"COM42");
    EXPECT_EQ(PortBoxes(), 1u);
    Power(false);
    Power(true);
    EXPECT_TRUE(Connected());
}

std::string PhaseName(const ::testing::TestParamInfo<Phase>& info) {
    static const char* names[] = {"Searching", "ConnectedPic32", "ConnectedHcs", "Loading", "Reading", "Verifying"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryPhase, LostPortScenario,
                         ::testing::Values(Phase::Searching, Phase::ConnectedPic32, Phase::ConnectedHcs, Phase::Loading,
                                           Phase::Reading, Phase::Verifying),
                         PhaseName);

class ExitScenario : public Scenario {};

// Esc during a load waits for it like Quit; every way out releases the port, so that
// the next start (here: another opener) finds it.
TEST_F(ExitScenario, EscapeWaitsForTheLoadAndEveryExitReleasesThePort) {
    Launch("pic32", 0, {});
    const std::string image = File("fw.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(32 * 1024), "-o", image}));
    AutoLoad(image);
    Power(true);
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(30)));
    EXPECT_FALSE(ui->platform.Escape());
    ASSERT_EQ(ui->platform.Boxes().size(), 1u);
    EXPECT_EQ(ui->platform.Boxes()[0].text, u"Bitte warten Sie zun\u00e4chst das Ende des laufenden Prozesses ab.");
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("prog") >= 0; }, seconds(30)));
    EXPECT_EQ(Read(flash), Read(image));
    ASSERT_TRUE(Connected());

    const std::u16string port = u"\\\\.\\COM42";
    EXPECT_EQ(CreatePortHandle(port), nullptr);  // held by the dialog
    EXPECT_TRUE(ui->platform.Escape());
    ASSERT_TRUE(ui->WaitFor([&] { return !ui->platform.UiRunning(); }));
    PortHandle next = CreatePortHandle(port);
    ASSERT_NE(next, nullptr);
    next->Close();

    // Quit: the reset goes out, and the port is free as well.
    ui = std::make_unique<DialogHarness>(env, "PrevCOM=\\\\\\\\.\\\\COM42\nPrevDevice=0\n");
    ui->Start();
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Suche nach Ger\u00e4t"));
    ui->Click(IDC_QUIT);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.ExitCode().has_value(); }));
    next = CreatePortHandle(port);
    ASSERT_NE(next, nullptr);
    next->Close();
}

class RefusedFileScenario : public Scenario {};

// A short image and a pipe in place of the Auto-Load file: each gets its box at once
// and nothing goes to the device.
TEST_F(RefusedFileScenario, ShortImageAndPipeAreRefusedWithoutSendingAnything) {
    Launch("pic32", 0);
    const std::string shortImage = File("short.spic32");
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "1000", "-o", shortImage}));
    AutoLoad(shortImage);
    Power(true);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.Boxes().size() == 1; }, seconds(20)));
    EXPECT_NE(ui->platform.Boxes()[0].text.find(u"keine g\u00fcltige L\u00e4nge"), std::u16string::npos);
    ASSERT_TRUE(Connected());

    const std::string pipe = File("pipe.spic32");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ui->Click(IDC_AUTOLOAD_OFF);
    AutoLoad(pipe);
    ASSERT_TRUE(ui->WaitFor([&] { return ui->platform.Boxes().size() == 2; }, seconds(20)));
    EXPECT_EQ(ui->platform.Boxes()[1].text, u"Die Datei kann nicht ge\u00f6ffnet werden:\n" + FromUtf8(pipe) +
                                                u"\n\nKeine gew\u00f6hnliche Datei (ein Ger\u00e4t, eine Pipe oder ein Socket)");
    ASSERT_TRUE(Connected());
    EXPECT_EQ(sim->EventTime("cmd", "load"), -1);
}

class ChatterScenario : public Scenario {};

TEST_F(ChatterScenario, DisconnectFromADeviceThatNeverFallsSilentEndsAndResets) {
    Launch("pic32", 0);
    Power(true);
    ASSERT_TRUE(Connected());
    ASSERT_EQ(sim->Command("fault chatter").substr(0, 2), "ok");
    // The window comes back: 1000 ms pause, at most 2 s of drain, the reset, 50 + 2500 ms.
    auto click = std::async(std::launch::async, [&] { return ui->Click(IDC_DISCONNECT); });
    ASSERT_EQ(click.wait_for(seconds(15)), std::future_status::ready);
    EXPECT_TRUE(click.get());
    EXPECT_TRUE(sim->WaitFor([](const ZlSim& s) { return ZlSim::Count(s.Received(), "\rSreset\r") >= 1; }));
}

}  // namespace
}  // namespace zl::test
