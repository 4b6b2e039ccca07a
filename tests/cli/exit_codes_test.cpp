// Every exit code of bzl, reached against zlsim's faults, and bad input that never
// gets further than one line.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "tests/cli/cli_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

class ExitCodes : public BzlScenario {};

TEST_F(ExitCodes, DeviceFaultsAndTheCompatibilityQuestion) {
    Sim("pic32", 151);
    const std::string fw = Image("fw.spic32", 8192);
    const std::string other = Image("other.spic32", 8192, {"--hardware", "ZL-Pallas-2c    "});
    const std::vector<std::string> load = {"load", fw, "--port", Port(), "--device", "0"};
    std::string out;

    Command("fault no-load-start");
    EXPECT_EQ(RunOnDevice(load, &out), 4) << out;
    Command("fault clear");
    Command("fault drop-dots 1");
    EXPECT_EQ(RunOnDevice(load, &out), 4) << out;
    EXPECT_NE(out.find("[Fehler]"), std::string::npos) << out;  // the box, with its title
    Command("fault clear");

    // Refused: the question answered "no", nothing sent; --force loads it.
    auto loads = [&] {
        size_t n = 0;
        for (const auto& e : sim->Log()) n += e.event == "cmd" && e.name == "load";
        return n;
    };
    const size_t before = loads();
    EXPECT_EQ(RunOnDevice({"load", other, "--port", Port(), "--device", "0"}, &out), 6) << out;
    EXPECT_NE(out.find("-> cancel"), std::string::npos) << out;
    EXPECT_EQ(loads(), before);
    EXPECT_EQ(RunOnDevice({"load", other, "--port", Port(), "--force", "--device", "0"}, &out), 0) << out;
    EXPECT_EQ(ReadFile(flash), ReadFile(other));

    Command("fault verify-mismatch");
    EXPECT_EQ(RunOnDevice({"verify", fw, "--port", Port()}, &out), 5) << out;
    Command("fault clear");
    Command("fault readout-length 1000");
    EXPECT_EQ(RunOnDevice({"read", File("out.bin"), "--port", Port()}, &out), 4) << out;

    // One record per transfer that reached the device: the refused file has none.
    const auto records = Records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_NE(records[0].find("\"failure\":\"start-refused\""), std::string::npos) << records[0];
    EXPECT_NE(records[3].find("\"outcome\":\"verify-mismatch\""), std::string::npos) << records[3];
}

TEST_F(ExitCodes, PortFileAndTimeProblems) {
    Sim("pic32", 152, {});
    const std::string fw = Image("fw.spic32", 64 * 1024);
    std::string out, err;

    // A port another program holds, and one that leads nowhere: 2, saying why.
    {
        const int fd = open(sim->SlavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
        EXPECT_EQ(BzlProcess::Run({"info", "--port", Port()}, env.dir(), &out, &err), 2);
        EXPECT_NE(err.find("busy, held by"), std::string::npos) << err;
        close(fd);
    }
    env.LinkPort(153, "/dev/no-such-adapter");
    EXPECT_EQ(BzlProcess::Run({"info", "--port", "COM153"}, env.dir(), &out, &err), 2);
    EXPECT_NE(err.find("missing"), std::string::npos) << err;

    // No device within --timeout.
    const auto t0 = steady_clock::now();
    EXPECT_EQ(BzlProcess::Run({"info", "--port", Port(), "--timeout", "1.5"}, env.dir(), &out, &err), 3) << out << err;
    EXPECT_LT(steady_clock::now() - t0, seconds(6));

    // The firmware file gone after the start: the load cannot open it.
    const std::string gone = Image("gone.spic32", 8192);
    {
        BzlProcess p({"load", gone, "--port", Port(), "--device", "0"}, env.dir());
        ASSERT_TRUE(WaitFor([&] { return Searching(p); }));
        std::filesystem::remove(gone);
        Command("power on");
        EXPECT_EQ(p.Wait(), 7) << p.Out() << p.Err();
        Command("power off");
    }

    // The adapter pulled in the middle of a load: the transfer failed.
    {
        auto p = StartAndSwitchOn({"load", fw, "--port", Port(), "--device", "0"});
        ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(20)));
        std::this_thread::sleep_for(seconds(1));
        Command("unplug");
        EXPECT_EQ(p->Wait(seconds(60)), 4) << p->Out() << p->Err();
        EXPECT_NE(p->Out().find("device-gone"), std::string::npos) << p->Out();
    }
}

TEST(BadInput, OneLineAndExitCodeOneOrSeven) {
    TempEnv env;
    const std::string dir = env.dir();
    const std::string fw = dir + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "512", "-o", fw}));
    const std::string bad = dir + "/fw\xff.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "512", "-o", bad}));
    const struct {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{}, 1},
        {{"flash"}, 1},
        {{"load", "--port", "COM1"}, 1},
        {{"load", fw, "--port", "COM1", "--bogus"}, 1},
        {{"load", fw, "--port", "COM1", "--count", "-1"}, 1},
        {{"load", fw, "--port", "COM1", "--count"}, 1},
        {{"load", fw, fw, "--port", "COM1"}, 1},
        {{"read", fw, "--port", "COM1", "--device", "1"}, 1},
        {{"info", "--port", "COM1", "--lang", "fr"}, 1},
        {{"info", "--port", "COM1", "--timeout", "-3"}, 1},
        {{"info", "--port", "COM1", "--device", "Corvel 7"}, 1},
        {{"info"}, 1},
        {{"info", "--port", "COM200"}, 1},
        {{"info", "--port", "COM0"}, 1},
        {{"info", "--port", "/dev/no-such-tty"}, 1},
        {{"info", "--port", "COM\xff"}, 1},
        {{"ports", "link", "300", "/dev/null"}, 1},
        {{"load", dir, "--port", "COM1"}, 7},
        {{"load", dir + "/missing.spic32", "--port", "COM1"}, 7},
        {{"verify", "/dev/null", "--port", "COM1"}, 7},
        {{"load", bad, "--port", "COM1"}, 7},
        {{"read", dir + "/no/such/folder/out.bin", "--port", "COM1"}, 7},
    };
    for (const auto& c : cases) {
        std::string args;
        for (const auto& a : c.args) args += a + " ";
        std::string out, err;
        EXPECT_EQ(BzlProcess::Run(c.args, dir, &out, &err), c.code) << args << "\n" << err;
        EXPECT_EQ(err.rfind("bzl: ", 0), 0u) << args << "\n" << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << args << "\n" << err;
        EXPECT_EQ(out, "") << args;
    }
}

}  // namespace
}  // namespace zl::test
