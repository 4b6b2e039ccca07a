// The window and the station window asked to end by a signal in the middle of a load
// (a logout, a shutdown, kill, the terminal closed): each finishes the load, resets the
// device, writes the record and releases the port, then ends. Each program runs as a
// child process started as its main() starts it; only the file dialog's answer (the
// Auto-Load file) is given beforehand.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/bootloader_dlg.h"
#include "faces/qt/qt_platform.h"
#include "faces/qt/quit_signals.h"
#include "platform/text_convert.h"
#include "platform/win32.h"
#include "records/record_log.h"
#include "res/resources.h"
#include "stations/stations_window.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"
#include "window/quit_on_signals.h"

namespace zl::test {
namespace {

using namespace std::chrono;

// The window's face with the file dialog answered.
class AnsweredPlatform : public QtPlatform {
public:
    explicit AnsweredPlatform(std::u16string file) : file_(std::move(file)) {}
    std::optional<std::u16string> FileDialog(bool, const std::u16string&, const std::u16string&, unsigned) override {
        return file_;
    }

private:
    std::u16string file_;
};

// The child: the window with Auto-Load on for image, as window/main_qt.cpp runs it.
int RunWindow(const std::string& image) {
    AnsweredPlatform platform(FromUtf8(image));
    RecordLog records(RecordLog::DefaultPath(), "BootloaderZL", "test", nullptr);
    auto* dlg = new CBootloaderZLDlg(platform);
    dlg->m_recordSink = &records;
    QuitDialogOnSignals(*dlg, platform);
    QTimer::singleShot(1000, [dlg] { dlg->OnCommand(IDC_AUTOLOAD_ON, BN_CLICKED); });
    dlg->DoModal();
    platform.EndProgram(0);
}

// The child: the station window with image for all stations, as stations/main.cpp runs it.
int RunStations(const std::string& image) {
    stations::StationsWindow window;
    QuitOnSignals([&window](int) { window.Shutdown(); });
    window.show();
    window.SetAutoLoadFile(FromUtf8(image));
    const int code = qApp->exec();
    if (window.LeftRunning()) std::_Exit(code);
    return code;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

class SignalEnd : public ::testing::Test {
protected:
    // Starts this test program as the child that runs mode.
    void StartChild(const std::string& mode, const std::string& image) {
        const std::string state = env.dir() + "/state";
        child_ = fork();
        if (child_ == 0) {
            setenv("XDG_STATE_HOME", state.c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execl("/proc/self/exe", "zl_gui_signal_tests", mode.c_str(), image.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    int WaitChild(seconds timeout) {
        const auto end = steady_clock::now() + timeout;
        while (steady_clock::now() < end) {
            int status = 0;
            if (waitpid(child_, &status, WNOHANG) == child_) {
                child_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
        return -1;
    }
    void TearDown() override {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
    }
    std::unique_ptr<ZlSim> Sim(int com) {
        // Paced at the line rate: a load takes seconds.
        auto sim = std::make_unique<ZlSim>("pic32", com, env.dir() + "/line" + std::to_string(com) + ".jsonl",
                                           std::vector<std::string>{"--flash", Flash(com)});
        EXPECT_TRUE(sim->Ready());
        return sim;
    }
    std::string Flash(int com) const { return env.dir() + "/flash" + std::to_string(com); }
    std::string Records() const { return ReadAll(env.dir() + "/state/Hallwyn/BootloaderZL/records.ndjson"); }
    static bool Searching(const ZlSim& sim) { return ZlSim::Count(sim.Received(), "BoOt\r") > 10; }
    // The device was loaded whole, then told to reset, and its port released.
    static void ExpectLoadedAndReset(const ZlSim& sim, const std::string& flash, const std::string& image) {
        EXPECT_TRUE(ReadAll(flash) == ReadAll(image)) << flash;
        EXPECT_GT(sim.EventTime("cmd", "reset"), sim.EventTime("prog"));
        const int fd = open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0) << "the port is still marked exclusive";
        if (fd >= 0) close(fd);
    }

    TempEnv env;
    pid_t child_ = -1;
};

TEST_F(SignalEnd, WindowFinishesItsLoadOnSigterm) {
    auto sim = Sim(61);
    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(96 * 1024), "-o", image}));
    std::filesystem::create_directories(env.dir() + "/Hallwyn");
    std::ofstream(env.dir() + "/Hallwyn/zl_gui_signal_tests.conf") << "[General]\nPrevCOM=\\\\\\\\.\\\\COM61\nPrevDevice=0\n";
    StartChild("--window", image);
    ASSERT_TRUE(sim->WaitFor(Searching, seconds(20)));
    ASSERT_EQ(sim->Command("power on").substr(0, 2), "ok");
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(30)));
    std::this_thread::sleep_for(seconds(2));
    kill(child_, SIGTERM);
    EXPECT_EQ(WaitChild(seconds(60)), 0);
    ExpectLoadedAndReset(*sim, Flash(61), image);
    const std::string records = Records();
    EXPECT_EQ(Lines(records), 1u);
    EXPECT_NE(records.find("\"outcome\":\"ok\""), std::string::npos) << records;
}

// Two stations loading; the profile lists them as the README shows it.
TEST_F(SignalEnd, StationWindowFinishesEveryLoadOnSigterm) {
    auto a = Sim(62);
    auto b = Sim(63);
    const std::string image = env.dir() + "/fw.spic32";
    ASSERT_TRUE(ZlSim::Zlfw({"pic32", "--length", std::to_string(96 * 1024), "-o", image}));
    std::filesystem::create_directories(env.dir() + "/Hallwyn");
    std::ofstream(env.dir() + "/Hallwyn/BootloaderZL-Stations.conf") << "[General]\nStations=COM62,COM63\n";
    StartChild("--stations", image);
    ASSERT_TRUE(a->WaitFor(Searching, seconds(20)));
    ASSERT_TRUE(b->WaitFor(Searching, seconds(20)));
    ASSERT_EQ(a->Command("power on").substr(0, 2), "ok");
    ASSERT_EQ(b->Command("power on").substr(0, 2), "ok");
    ASSERT_TRUE(a->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(30)));
    ASSERT_TRUE(b->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(30)));
    std::this_thread::sleep_for(seconds(2));
    kill(child_, SIGTERM);
    EXPECT_EQ(WaitChild(seconds(60)), 0);
    ExpectLoadedAndReset(*a, Flash(62), image);
    ExpectLoadedAndReset(*b, Flash(63), image);
    EXPECT_EQ(Lines(Records()), 2u) << Records();
}

}  // namespace
}  // namespace zl::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && std::string(argv[1]) == "--window") return zl::test::RunWindow(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "--stations") return zl::test::RunStations(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
