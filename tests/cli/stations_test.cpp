// Two dialogs in one process, each on its own user-interface thread of the headless face,
// each with its own zlsim: both devices loaded, each record naming its own port.
#include <atomic>
#include <thread>

#include "cli/station.h"
#include "os/qsettings/qsettings_profile.h"
#include "platform/text_convert.h"
#include "tests/cli/cli_fixture.h"

namespace zl::test {
namespace {

TEST(Stations, TwoDialogsInOneProcessLoadTheirDevicesSideBySide) {
    TempEnv env;
    setenv("XDG_STATE_HOME", (env.dir() + "/state").c_str(), 1);
    const std::string fw = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", "16384", "-o", fw}));
    ZlSim a("pic32", 181, env.dir() + "/a.jsonl", {"--no-pacing", "--flash", env.dir() + "/a.bin"});
    ZlSim b("pic32", 182, env.dir() + "/b.jsonl", {"--no-pacing", "--flash", env.dir() + "/b.bin"});
    ASSERT_TRUE(a.Ready() && b.Ready());

    RecordLog records(env.dir() + "/records.ndjson", "bzl", "test", nullptr);
    std::atomic<int> interrupt{0};
    int codes[2] = {-1, -1};
    // The profiles are made on one thread: QSettings' construction is not thread-safe.
    std::unique_ptr<Profile> profiles[2] = {MakeQSettingsProfile(u"BootloaderZL"), MakeQSettingsProfile(u"BootloaderZL")};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([&, i] {
            cli::Job job;
            job.command = cli::Command::Load;
            job.port = FromUtf8("\\\\.\\COM" + std::to_string(181 + i));
            job.device = 0;
            job.file = FromUtf8(fw);
            job.fileSize = 16384;
            job.timeout = 60;
            cli::Reporter out(cli::Reporter::Mode::Plain, "COM" + std::to_string(181 + i));
            cli::Station station(job, std::move(profiles[i]), out, records);
            codes[i] = station.Run(interrupt);
        });
    }
    auto flooding = [](const ZlSim& z) { return z.Received().find("BoOt\r") != std::string::npos; };
    if (!a.WaitFor(flooding, std::chrono::seconds(30)) || !b.WaitFor(flooding, std::chrono::seconds(30))) {
        interrupt = 2;
        for (auto& t : threads) t.join();
        FAIL() << "no search on both ports";
    }
    EXPECT_EQ(a.Command("power on"), "ok power on");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));  // switched on at another time
    EXPECT_EQ(b.Command("power on"), "ok power on");
    for (auto& t : threads) t.join();
    EXPECT_EQ(codes[0], 0);
    EXPECT_EQ(codes[1], 0);
    EXPECT_EQ(ReadFile(env.dir() + "/a.bin"), ReadFile(fw));
    EXPECT_EQ(ReadFile(env.dir() + "/b.bin"), ReadFile(fw));
    const std::string lines = ReadFile(env.dir() + "/records.ndjson");
    EXPECT_NE(lines.find("\"port\":\"COM181\""), std::string::npos);
    EXPECT_NE(lines.find("\"port\":\"COM182\""), std::string::npos);
}

}  // namespace
}  // namespace zl::test
