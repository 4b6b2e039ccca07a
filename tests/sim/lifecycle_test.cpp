// How zlsim publishes its port and takes it away again: the link lives exactly as long
// as the simulator, however it ends, and a second simulator on the same number stays off.
#include <signal.h>
#include <sys/wait.h>

#include "tests/sim/sim_fixture.h"

namespace zl::simtest {
namespace {

std::vector<std::string> Args(const std::string& kind, int com) { return {"--kind", kind, "--com", std::to_string(com)}; }

// The slave path at the end of zlsim's ready line.
std::string SlaveOf(const std::string& ready) { return ready.substr(ready.rfind(' ') + 1); }

class SimLifecycle : public ::testing::Test {
protected:
    // Checks that the pic32 zlsim behind COM com answers the wake-up.
    void ExpectAnswers(SimProcess& sim, int com) {
        SimPort port;
        ASSERT_TRUE(port.Open(PortLink(com), 115200));
        ASSERT_EQ(sim.Command("power on"), "ok power on");
        EXPECT_EQ(port.WakeUntil("l"), "l");
    }
    zl::test::TempEnv env;
};

TEST_F(SimLifecycle, LinkPointsToTheOpenablePseudoTerminalAndGoesWithSigterm) {
    SimProcess sim(Args("pic32", 51));
    const std::string ready = sim.WaitReady();
    ASSERT_EQ(ready.rfind("ready COM51 /dev/pts/", 0), 0u) << ready;
    EXPECT_EQ(LinkTarget(51), SlaveOf(ready));
    ExpectAnswers(sim, 51);
    sim.Signal(SIGTERM);
    const auto status = sim.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_FALSE(LinkExists(51));  // gone by the time the process is
}

TEST_F(SimLifecycle, LinkGoesAfterSigkillAndTheNumberCanBeUsedAgain) {
    {
        SimProcess sim(Args("hcs", 52));
        ASSERT_NE(sim.WaitReady(), "");
        ASSERT_TRUE(LinkExists(52));
        sim.Signal(SIGKILL);
        const auto status = sim.Wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
        EXPECT_TRUE(WaitUntil([] { return !LinkExists(52); }, 10s)) << "a link to a dead pseudo-terminal is left";
    }
    SimProcess next(Args("pic32", 52));
    const std::string ready = next.WaitReady();
    ASSERT_NE(ready, "");
    EXPECT_EQ(LinkTarget(52), SlaveOf(ready));
    ExpectAnswers(next, 52);
}

TEST_F(SimLifecycle, ClosingItsCommandInputEndsZlsimAndRemovesTheLink) {
    SimProcess sim(Args("pic32", 53));
    ASSERT_NE(sim.WaitReady(), "");
    sim.CloseInput();
    const auto status = sim.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    EXPECT_FALSE(LinkExists(53));
}

TEST_F(SimLifecycle, SecondZlsimOnTheSameNumberRefusesAndLeavesTheFirstAlone) {
    SimProcess first(Args("pic32", 54));
    const std::string ready = first.WaitReady();
    ASSERT_NE(ready, "");
    SimProcess second(Args("hcs", 54));
    EXPECT_EQ(second.WaitReady(), "");
    const auto status = second.Wait();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2);
    EXPECT_NE(second.Stderr().find("COM54 is already published by another zlsim"), std::string::npos);
    // The first keeps its link and its line.
    EXPECT_EQ(LinkTarget(54), SlaveOf(ready));
    ExpectAnswers(first, 54);
    // Another number beside it is fine.
    SimProcess other(Args("pic32", 55));
    EXPECT_NE(other.WaitReady(), "");
    EXPECT_NE(LinkTarget(55), LinkTarget(54));
}

TEST_F(SimLifecycle, UnplugHangsUpAndRemovesTheLinkPlugPublishesANewLine) {
    SimProcess sim(Args("pic32", 56));
    ASSERT_NE(sim.WaitReady(), "");
    SimPort port;
    ASSERT_TRUE(port.Open(PortLink(56), 115200));
    EXPECT_FALSE(port.HungUp());
    EXPECT_EQ(sim.Command("unplug"), "ok unplugged");
    EXPECT_FALSE(LinkExists(56));
    EXPECT_TRUE(WaitUntil([&] { return port.HungUp(); }, 5s));
    EXPECT_EQ(sim.Command("status"), "ok off unplugged");
    const std::string plugged = sim.Command("plug");
    ASSERT_EQ(plugged.rfind("ok plugged /dev/pts/", 0), 0u) << plugged;
    EXPECT_EQ(LinkTarget(56), SlaveOf(plugged));
    ExpectAnswers(sim, 56);
}

TEST_F(SimLifecycle, BadArgumentsAreRefusedWithUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--com", "5"}, {"--kind", "pic16", "--com", "5"}, {"--kind", "pic32", "--com", "0"},
             {"--kind", "pic32", "--com", "257"}, {"--kind", "pic32", "--com", "5", "--fault", "no-such-fault"}}) {
        SimProcess sim(args);
        const auto status = sim.Wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << args[1];
        EXPECT_FALSE(LinkExists(5));
    }
}

}  // namespace
}  // namespace zl::simtest
