// zlsim's injected faults, each as the program meets it on the line.
#include "tests/sim/sim_fixture.h"

namespace zl::simtest {
namespace {

class SimFaults : public SimLine {};

TEST_F(SimFaults, SilentDeviceNeverAnswersUntilTheFaultIsCleared) {
    Start("pic32", 61, {"--fault", "silent"});
    Power(true);
    EXPECT_EQ(port.WakeFor(800ms), "");
    EXPECT_EQ(Status(), "ok menu plugged");  // it did hear the wake-up
    EXPECT_EQ(Menu(), "");
    EXPECT_EQ(sim->Command("fault clear"), "ok faults cleared");
    EXPECT_NE(Menu().find("Bootloader"), std::string::npos);
}

TEST_F(SimFaults, GarbageCarriesNoLAndNoSelfDescription) {
    Start("pic32", 62, {"--fault", "garbage"});
    Power(true);
    EXPECT_EQ(port.WakeFor(800ms).find('l'), std::string::npos);
    EXPECT_FALSE(sim->Sent().empty());  // something did come back
    const std::string d = Menu();
    EXPECT_FALSE(d.empty());
    EXPECT_EQ(d.find("Bootloader"), std::string::npos);
}

TEST_F(SimFaults, ZeroBeforeEveryAnswer) {
    Start("pic32", 63, {"--fault", "zero-before"});
    Power(true);
    EXPECT_EQ(port.WakeUntil("l"), std::string("\0l", 2));
    const std::string d = Menu();
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d[0], '\0');
    EXPECT_NE(d.find("Bootloader"), std::string::npos);
}

TEST_F(SimFaults, MenuAtStartBeginsTheDescriptionWithBootloader) {
    Start("pic32", 64, {"--fault", "menu-at-start"});
    WakePic32();
    EXPECT_EQ(Menu().find("Bootloader"), 0u);
}

TEST_F(SimFaults, SplitAnswerComesInTwoPartsWithAPauseBeyondTheReadTimeOut) {
    Start("pic32", 65, {"--fault", "split"});
    WakePic32();
    const size_t before = sim->Log().size();
    const std::string d = Menu() + port.ReadUntilSilent(500ms);
    ASSERT_NE(d.find("Firmware im Flash:"), std::string::npos);
    // The widest pause inside the answer, from zlsim's log, and what went out before it.
    const auto log = sim->Log();
    int64_t previous = -1, widest = 0;
    std::string sent, firstPart;
    for (size_t i = before; i < log.size(); ++i) {
        if (log[i].dir != "tx") continue;
        if (previous >= 0 && log[i].t_us - previous > widest) {
            widest = log[i].t_us - previous;
            firstPart = sent;
        }
        previous = log[i].t_us;
        sent += log[i].bytes;
    }
    EXPECT_EQ(sent, d);
    EXPECT_GT(widest, 20000);  // the program's read time-out is 10 ms
    EXPECT_FALSE(firstPart.empty());
    EXPECT_EQ(firstPart.find("Firmware im Flash:"), std::string::npos);  // that is in the second part
}

TEST_F(SimFaults, DroppedAndExtraDotsChangeTheCount) {
    Start("pic32", 66, {"--fault", "drop-dots=3"});
    WakePic32();
    const std::string image = Pic32Image(8 * 512);
    EXPECT_EQ(Load(image), ".....");
    ASSERT_TRUE(WaitEvent("loaded"));
    EXPECT_EQ(Flash(), image);  // the blocks themselves arrived

    ASSERT_EQ(sim->Command("fault clear"), "ok faults cleared");
    ASSERT_EQ(sim->Command("fault extra-dots 2"), "ok fault extra-dots");
    const std::string dots = Load(image) + port.ReadUntilSilent(300ms);
    EXPECT_EQ(dots, "..........");
}

TEST_F(SimFaults, NoLoadStartRefusesTheLoadAndKeepsTheFlash) {
    const std::string old = Pic32Image(2 * 512, {"--name", "Alt"});
    WriteFile(env.dir() + "/flash.bin", old);
    Start("pic32", 67, {"--fault", "no-load-start"});
    WakePic32();
    std::string start;
    Load(Pic32Image(4 * 512, {"--name", "Neu"}), &start);
    EXPECT_EQ(start.find("Load gestartet"), std::string::npos);
    EXPECT_FALSE(start.empty());
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(EventCount("loaded"), 0u);
    EXPECT_EQ(Flash(), old);
}

TEST_F(SimFaults, VerifyMismatchMarksEveryBlock) {
    const std::string image = Pic32Image(4 * 512);
    WriteFile(env.dir() + "/flash.bin", image);
    Start("pic32", 68, {"--fault", "verify-mismatch"});
    WakePic32();
    port.Command("verify");
    EXPECT_NE(port.ReadUntil("Verify gestartet").find("Verify gestartet"), std::string::npos);
    port.Write(image);
    const std::string end = port.ReadUntil("Verify beendet");
    EXPECT_EQ(end.substr(0, end.find("Verify")), "????");
}

TEST_F(SimFaults, NoMakeEndAndMakeSplit) {
    WriteFile(env.dir() + "/flash.bin", Pic32Image(2 * 512));
    Start("pic32", 69, {"--fault", "no-make-end"});
    WakePic32();
    port.Command("make");
    const std::string waiting = port.ReadUntilSilent(1500ms, 5s);
    EXPECT_NE(waiting.find("Bitte warten"), std::string::npos);
    EXPECT_EQ(waiting.find("Make beendet"), std::string::npos);

    ASSERT_EQ(sim->Command("fault clear"), "ok faults cleared");
    ASSERT_EQ(sim->Command("fault make-split"), "ok fault make-split");
    port.Command("make");
    // The program's wait: 100 ms, then read until 10 ms of silence, again and again.
    std::vector<std::string> passes;
    std::string all;
    while (all.find("Make beendet") == std::string::npos && passes.size() < 50) {
        std::this_thread::sleep_for(100ms);
        passes.push_back(port.ReadUntilSilent(30ms));
        all += passes.back();
    }
    ASSERT_NE(all.find("Make beendet"), std::string::npos);
    bool wholeInOnePass = false;
    for (const auto& p : passes) wholeInOnePass |= p.find("Make beendet") != std::string::npos;
    EXPECT_FALSE(wholeInOnePass);
    all += port.ReadUntilSilent(300ms);
    EXPECT_NE(all.find("Make beendet\r\nREST-OF-BURST"), std::string::npos);
}

TEST_F(SimFaults, ReadoutLengthSendsThatManyBytes) {
    const std::string image = Pic32Image(2 * 512);
    WriteFile(env.dir() + "/flash.bin", image);
    Start("pic32", 70, {"--fault", "readout-length=1030"});
    WakePic32();
    port.Command("read");
    const std::string got = port.ReadUntilSilent(400ms);
    ASSERT_EQ(got.size(), 1030u);
    EXPECT_TRUE(got.compare(0, 1024, image) == 0);
}

TEST_F(SimFaults, HangupAfterCutsTheLineDuringTheLoad) {
    const std::string old = Pic32Image(2 * 512, {"--name", "Alt"});
    WriteFile(env.dir() + "/flash.bin", old);
    Start("pic32", 71);
    WakePic32();
    // The wake-up took a varying number of bytes; the line hangs up 3000 bytes later.
    const size_t sofar = sim->Received().size();
    ASSERT_EQ(sim->Command("fault hangup-after " + std::to_string(sofar + 3000)), "ok fault hangup-after");
    port.Command("load");
    EXPECT_NE(port.ReadUntil("Load gestartet").find("Load gestartet"), std::string::npos);
    const std::string image = Pic32Image(16 * 512);
    for (size_t at = 0; at < image.size() && !port.HungUp(); at += 512) port.Write(image.substr(at, 512));
    EXPECT_TRUE(WaitUntil([&] { return port.HungUp(); }, 5s));
    EXPECT_FALSE(LinkExists(com_));
    EXPECT_GE(sim->EventTime("unplug", "hangup-after"), 0);
    EXPECT_EQ(Flash(), old);  // nothing half-written
}

TEST_F(SimFaults, HcsNoBlankAndNoisePrefix) {
    Start("hcs", 72, {"--fault", "no-blank"});
    Power(true);
    const std::string plain = port.WakeUntil("\r\n");
    EXPECT_NE(plain.find("BOOTHCS"), std::string::npos) << plain;
    EXPECT_EQ(plain.find("BOOT "), std::string::npos);

    ASSERT_EQ(sim->Command("fault clear"), "ok faults cleared");
    ASSERT_EQ(sim->Command("fault noise-prefix"), "ok fault noise-prefix");
    const std::string noisy = port.WakeUntil("BOOT ", 10s) + port.ReadUntilSilent(100ms);
    const size_t b = noisy.find("BOOT ");
    ASSERT_NE(b, std::string::npos);
    // Control bytes and bytes above 0x7F stand before it.
    const std::string before = noisy.substr(0, b);
    const size_t r = before.rfind("\r\n");
    ASSERT_NE(r, std::string::npos);
    const std::string prefix = before.substr(r);
    EXPECT_NE(prefix.find('\0'), std::string::npos);
    EXPECT_NE(prefix.find('\xff'), std::string::npos);
}

TEST_F(SimFaults, UnknownFaultAtRunTimeIsAnError) {
    Start("pic32", 73);
    EXPECT_EQ(sim->Command("fault no-such-thing"), "error unknown fault no-such-thing");
}

}  // namespace
}  // namespace zl::simtest
