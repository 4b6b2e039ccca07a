// The PIC32 kind over its paced line at 115200 baud: wake-up, self-description, load,
// copy to the chip, readout, verify and reset, as the program drives them.
#include "tests/sim/sim_fixture.h"

namespace zl::simtest {
namespace {

class Pic32Line : public SimLine {};

// The 16 characters 12 after the first character of key, or "" without the key.
std::string ValueAfter(const std::string& text, const std::string& key) {
    const size_t k = text.find(key);
    return k == std::string::npos || k + 28 > text.size() ? std::string() : text.substr(k + 12, 16);
}

TEST_F(Pic32Line, WakeUpIsAnsweredOnceWithAnLOnlyAfterPowerOn) {
    Start("pic32", 21);
    EXPECT_EQ(port.WakeFor(700ms), "");  // switched off: the wake-ups go unanswered
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.Received().size() >= 100; }));
    EXPECT_EQ(sim->Received().find_first_not_of("BoOt\r"), std::string::npos);

    Power(true);
    const std::string answer = port.WakeUntil("l");
    EXPECT_EQ(answer, "l");
    // The closing burst of 500 more wake-ups gets no second answer.
    for (int i = 0; i < 500; ++i) port.Write("BoOt\r");
    EXPECT_EQ(port.ReadUntilSilent(300ms), "");
    EXPECT_EQ(sim->Sent(), "l");
    EXPECT_GT(sim->EventTime("answered"), sim->EventTime("power_on"));
    EXPECT_EQ(Status(), "ok menu plugged");
}

TEST_F(Pic32Line, AnAnswerNeedsTheWholeWakeUpString) {
    Start("pic32", 22);
    Power(true);
    // Near misses in case and order: nothing.
    for (int i = 0; i < 40; ++i) port.Write("BOOT\rboot\rBoOt\nBoO\rt");
    EXPECT_EQ(port.ReadUntilSilent(300ms), "");
    // The string split over two writes still counts.
    port.Write("xxBo");
    port.Write("Ot\r");
    EXPECT_EQ(port.ReadUntil("l", 5s), "l");
}

TEST_F(Pic32Line, SelfDescriptionWithoutFirmwareHasItsLabelsAtFixedDistances) {
    Start("pic32", 23, {"--manufacturer", "Firma Beispiel", "--hardware", "ZL-Test-Board"});
    WakePic32();
    const std::string d = Menu();
    const size_t b = d.find("Bootloader");
    ASSERT_NE(b, std::string::npos) << d;
    EXPECT_GE(b, 1u);  // at least one character before it, or the program ignores the answer
    EXPECT_EQ(d.find("Hersteller:") - b, 13u);
    EXPECT_EQ(ValueAfter(d, "Hersteller:"), "Firma Beispiel  ");
    EXPECT_EQ(ValueAfter(d, "Hardware  :"), "ZL-Test-Board   ");
    EXPECT_GE(d.size() - d.find("Bootloader:"), 152u);
    const size_t q = d.find("aktuelle Firmware:");
    ASSERT_NE(q, std::string::npos);
    EXPECT_GE(d.size() - q, 152u);
    const size_t r = d.find("Firmware im Flash:");
    ASSERT_NE(r, std::string::npos);
    EXPECT_GT(r, q);
    EXPECT_NE(d.find("Keine Firmware geladen"), std::string::npos);
    EXPECT_NE(d.substr(r, 152).find('.'), std::string::npos);  // the right panel is cut at a full stop
    // The same answer on every request.
    EXPECT_EQ(Menu(), d);
}

TEST_F(Pic32Line, SelfDescriptionNamesTheFirmwareInFlashAndTheLastResult) {
    WriteFile(env.dir() + "/flash.bin", Pic32Image(4096, {"--name", "Corvel-Alt", "--version", "2.0.1", "--date", "01.02.2025"}));
    Start("pic32", 24);
    WakePic32();
    const std::string d = Menu();
    const size_t q = d.find("aktuelle Firmware:");
    const size_t r = d.find("Firmware im Flash:");
    ASSERT_NE(q, std::string::npos);
    ASSERT_NE(r, std::string::npos);
    // The chip runs what the flash held at start; both panels name it.
    EXPECT_NE(d.substr(q, 152).find("Corvel-Alt"), std::string::npos);
    EXPECT_NE(d.substr(q, 152).find("2.0.1"), std::string::npos);
    EXPECT_NE(d.substr(r, 152).find("Corvel-Alt"), std::string::npos);
    EXPECT_NE(d.substr(r, 152).find("01.02.2025"), std::string::npos);
    EXPECT_EQ(d.find("Keine Firmware geladen"), std::string::npos);
    // The result of the last update stands 23 characters after the first "Dat" behind "Firmware i".
    const size_t dat = d.find("Dat", d.find("Firmware i"));
    ASSERT_NE(dat, std::string::npos);
    EXPECT_EQ(d.substr(dat + 23, 18), "Update erfolgreich");
}

TEST_F(Pic32Line, LoadStoresTheImageByteForByteAndProgPutsItOnTheChip) {
    Start("pic32", 25);
    WakePic32();
    const std::string image = Pic32Image(16 * 512, {"--name", "Corvel-Neu", "--version", "3.6.0"});
    std::string start;
    const std::string dots = Load(image, &start);
    EXPECT_NE(start.find("Load gestartet"), std::string::npos) << start;
    EXPECT_EQ(dots, std::string(16, '.'));  // one per block, nothing else
    ASSERT_TRUE(WaitEvent("loaded", "16"));
    EXPECT_EQ(Flash(), image);

    port.Command("prog");
    ASSERT_TRUE(WaitEvent("prog", "Update erfolgreich"));
    std::this_thread::sleep_for(500ms);
    const std::string d = Menu();
    const size_t q = d.find("aktuelle Firmware:");
    ASSERT_NE(q, std::string::npos) << d;
    EXPECT_NE(d.substr(q, 152).find("Corvel-Neu"), std::string::npos);
    EXPECT_NE(d.substr(q, 152).find("3.6.0"), std::string::npos);
    const size_t dat = d.find("Dat", d.find("Firmware i"));
    EXPECT_EQ(d.substr(dat + 23, 18), "Update erfolgreich");
}

TEST_F(Pic32Line, ProgOfAnImageForOtherHardwareKeepsTheChipAndReportsAnErrorCode) {
    Start("pic32", 26);
    WakePic32();
    const std::string image = Pic32Image(4 * 512, {"--hardware", "ZL-Pallas-2c", "--name", "Fremd"});
    EXPECT_EQ(Load(image), "....");
    ASSERT_TRUE(WaitEvent("loaded"));
    EXPECT_EQ(Flash(), image);  // stored all the same
    port.Command("prog");
    ASSERT_TRUE(WaitEvent("prog"));
    const std::string d = Menu();
    const size_t q = d.find("aktuelle Firmware:");
    ASSERT_NE(q, std::string::npos);
    EXPECT_EQ(d.substr(q, 152).find("Fremd"), std::string::npos);  // not on the chip
    const size_t dat = d.find("Dat", d.find("Firmware i"));
    ASSERT_NE(dat, std::string::npos);
    const std::string result = d.substr(dat + 23);
    const size_t f = result.find("Fehlercode");
    ASSERT_NE(f, std::string::npos) << result;
    EXPECT_EQ(result[f + 12], '2');
    EXPECT_EQ(result.find("erfolgreich"), std::string::npos);
}

TEST_F(Pic32Line, ReadoutSendsTheFlashByteForByteAfterMakeHasEnded) {
    const std::string image = Pic32Image(8 * 512);
    WriteFile(env.dir() + "/flash.bin", image);
    Start("pic32", 27);
    WakePic32();
    port.Command("make");
    const std::string wait = port.ReadUntil("Make beendet", 10s);
    EXPECT_NE(wait.find("Make beendet"), std::string::npos) << wait;
    port.ReadUntilSilent(100ms);
    port.Command("read");
    const std::string got = port.ReadUntilSilent(400ms);  // the readout port's time-out
    EXPECT_EQ(got.size(), image.size());
    EXPECT_TRUE(got == image) << "the readout differs from the flash";
}

TEST_F(Pic32Line, VerifyMarksEveryBlockAndOnlyTheDifferentOneWithAQuestionMark) {
    const std::string image = Pic32Image(8 * 512);
    WriteFile(env.dir() + "/flash.bin", image);
    Start("pic32", 28);
    WakePic32();
    std::string changed = image;
    changed[2 * 512 + 100] ^= 0x01;
    // pause: how long the program reads the first answer before the blocks; 700 ms stands
    // for a port left open by a readout, whose read time-out is 400 ms.
    auto verify = [&](const std::string& file, Ms pause) {
        port.Command("verify");
        std::this_thread::sleep_for(200ms);
        const std::string start = port.ReadUntilSilent(pause);
        EXPECT_NE(start.find("Verify gestartet"), std::string::npos) << start;
        EXPECT_EQ(start.find("Verify beendet"), std::string::npos) << "the verify ended before the blocks";
        for (size_t at = 0; at + 512 <= file.size(); at += 512) port.Write(file.substr(at, 512));
        std::this_thread::sleep_for(500ms);
        const std::string end = port.ReadUntilSilent(300ms);
        EXPECT_NE(end.find("Verify beendet"), std::string::npos) << end;
        return end.substr(0, end.find("Verify"));
    };
    EXPECT_EQ(verify(image, 100ms), "........");
    EXPECT_EQ(verify(changed, 100ms), "..?.....");
    EXPECT_EQ(verify(changed, 700ms), "..?.....");
    // A file longer than the flash: the blocks past its end differ.
    EXPECT_EQ(verify(image + image.substr(0, 1024), 100ms), "........??");
}

TEST_F(Pic32Line, VerifyWithoutBlocksEndsOnItsOwnWithoutMarks) {
    WriteFile(env.dir() + "/flash.bin", Pic32Image(2 * 512));
    Start("pic32", 29);
    WakePic32();
    port.Command("verify");
    const std::string all = port.ReadUntil("Verify beendet", 10s);
    ASSERT_NE(all.find("Verify beendet"), std::string::npos) << all;
    EXPECT_EQ(all.find('?'), std::string::npos);
    EXPECT_TRUE(WaitStatus("menu"));
}

TEST_F(Pic32Line, ResetHandsOverToTheFirmwareUntilTheNextPowerOn) {
    Start("pic32", 30);
    WakePic32();
    port.Command("reset");
    ASSERT_TRUE(WaitStatus("running"));
    EXPECT_EQ(Menu(), "");
    EXPECT_EQ(port.WakeFor(500ms), "");
    Power(false);
    Power(true);
    EXPECT_EQ(port.WakeUntil("l"), "l");
}

}  // namespace
}  // namespace zl::simtest
