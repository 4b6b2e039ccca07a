// bzl as a hostile but ordinary world treats it: its terminal closed mid-load, a FIFO
// where the records file should be, a file name that holds terminal controls.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/cli/cli_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

class Hostile : public BzlScenario {};

// bzl on a terminal of its own (a session leader with the pty as its controlling
// terminal), as a shell in a terminal window starts it.
class BzlOnTerminal {
public:
    BzlOnTerminal(const std::vector<std::string>& args, const std::string& state) {
        int slave = -1;
        if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(master_);
            setsid();
            ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(slave, 2);
            setenv("XDG_STATE_HOME", state.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(BZL_PATH)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(BZL_PATH, argv.data());
            _exit(127);
        }
        close(slave);
        fcntl(master_, F_SETFL, O_NONBLOCK);
    }
    ~BzlOnTerminal() {
        CloseTerminal();
        if (pid_ > 0 && code_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // What the terminal has shown so far.
    std::string Screen() {
        char buf[4096];
        ssize_t n;
        while (master_ >= 0 && (n = read(master_, buf, sizeof buf)) > 0) screen_.append(buf, static_cast<size_t>(n));
        return screen_;
    }
    // The terminal window closed: the line hangs up and bzl gets SIGHUP.
    void CloseTerminal() {
        if (master_ >= 0) close(master_);
        master_ = -1;
    }
    int Wait(seconds timeout) {
        const auto end = steady_clock::now() + timeout;
        while (code_ < 0 && steady_clock::now() < end) {
            Screen();
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_)
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else
                std::this_thread::sleep_for(milliseconds(20));
        }
        return code_;
    }

private:
    int master_ = -1;
    pid_t pid_ = -1;
    int code_ = -1;
    std::string screen_;
};

// The terminal closed, or SIGTERM (a logout, a shutdown, kill), in the middle of a load:
// the load is finished, the device reset, the record written, and bzl ends 130.
TEST_F(Hostile, TerminalClosedOrSigtermMidLoadFinishTheLoadFirst) {
    Sim("pic32", 171, {});
    const std::string fw = Image("fw.spic32", 64 * 1024);
    {
        BzlOnTerminal p({"load", fw, "--port", Port(), "--device", "0"}, env.dir() + "/state");
        ASSERT_TRUE(WaitFor([&] { return p.Screen().find("Suche nach Ger") != std::string::npos; })) << p.Screen();
        Command("power on");
        ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return s.EventTime("cmd", "load") >= 0; }, seconds(30)));
        std::this_thread::sleep_for(seconds(2));
        p.CloseTerminal();
        EXPECT_EQ(p.Wait(seconds(60)), 130);
        EXPECT_TRUE(ReadFile(flash) == ReadFile(fw));  // byte for byte
        EXPECT_GT(sim->EventTime("cmd", "reset"), sim->EventTime("prog"));
        ASSERT_EQ(Records().size(), 1u);
        EXPECT_NE(Records()[0].find("\"outcome\":\"ok\""), std::string::npos) << Records()[0];
        Command("power off");
    }
    const std::string fw2 = Image("fw2.spic32", 64 * 1024, {"--seed", "2"});
    {
        auto p = StartAndSwitchOn({"load", fw2, "--port", Port(), "--device", "0"});
        ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) {
            size_t loads = 0;
            for (const auto& e : s.Log()) loads += e.event == "cmd" && e.name == "load";
            return loads == 2;
        }, seconds(30)));
        std::this_thread::sleep_for(seconds(2));
        p->Signal(SIGTERM);
        EXPECT_EQ(p->Wait(seconds(60)), 130) << p->Out() << p->Err();
        EXPECT_NE(p->Out().find("Bitte warten"), std::string::npos) << p->Out();
        EXPECT_NE(p->Out().find("interrupted: 1 device(s) good"), std::string::npos) << p->Out();
        EXPECT_TRUE(ReadFile(flash) == ReadFile(fw2));
        EXPECT_EQ(Records().size(), 2u);
    }
}

// A FIFO given as the records file: reported once, the load goes on and ends; the
// device counts as good. Nobody ever opens the FIFO's other end.
TEST_F(Hostile, AFifoAsTheRecordsFileNeverHoldsTheRun) {
    Sim("pic32", 172);
    const std::string fw = Image("fw.spic32", 8192);
    const std::string fifo = File("records.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::string out;
    const auto t0 = steady_clock::now();
    EXPECT_EQ(RunOnDevice({"load", fw, "--port", Port(), "--device", "0", "--log", fifo}, &out), 0) << out;
    EXPECT_LT(steady_clock::now() - t0, seconds(40));
    EXPECT_NE(out.find("not a regular file"), std::string::npos) << out;
    EXPECT_NE(out.find("done: 1 device(s) good"), std::string::npos) << out;
    EXPECT_TRUE(ReadFile(flash) == ReadFile(fw));  // byte for byte
}

// A firmware file whose name clears the screen, sets the title and breaks the line:
// text lines show the controls escaped, JSON keeps the name exact.
TEST_F(Hostile, ControlCharactersInAFileNameAreShownEscaped) {
    Sim("pic32", 173);
    const std::string name = "e\x1b[2J\x1b]0;PWNED\x07\n.spic32";
    const std::string fw = Image(name, 512);
    std::string out, err;
    EXPECT_EQ(BzlProcess::Run({"load", fw, "--port", Port(), "--device", "0", "--timeout", "0.3"}, env.dir(), &out, &err), 3);
    EXPECT_NE(out.find("file " + env.dir() + "/e\\x1b[2J\\x1b]0;PWNED\\x07\\n.spic32, 1 device(s)"), std::string::npos) << out;
    for (const std::string& text : {out, err})
        for (char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << text;
    // A name that leads nowhere: the error line escapes it too.
    EXPECT_EQ(BzlProcess::Run({"load", fw + "\x1b", "--port", Port()}, env.dir(), &out, &err), 7);
    EXPECT_NE(err.find(".spic32\\x1b: "), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    EXPECT_EQ(BzlProcess::Run({"load", fw, "--port", Port(), "--device", "0", "--timeout", "0.3", "--json"}, env.dir(), &out), 3);
    EXPECT_NE(out.find("\"file\":\"" + env.dir() + "/e\\u001b[2J\\u001b]0;PWNED\\u0007\\n.spic32\""), std::string::npos) << out;
}

// bzl killed (SIGKILL) while it held a pseudo-terminal whose other side stays open: the
// line keeps its exclusive mark, and bzl ports says what that is and what ends it.
TEST_F(Hostile, AStaleExclusiveMarkIsExplained) {
    Sim("pic32", 174);
    {
        BzlProcess p({"info", "--port", Port()}, env.dir());
        ASSERT_TRUE(WaitFor([&] { return Searching(p); }));
        p.Signal(SIGKILL);
        EXPECT_EQ(p.Wait(seconds(10)), 128 + SIGKILL);
    }
    std::string out, err;
    EXPECT_EQ(BzlProcess::Run({"ports"}, env.dir(), &out, &err), 0);
    const size_t line = out.find("COM174");
    ASSERT_NE(line, std::string::npos) << out;
    const std::string text = out.substr(line, out.find('\n', line) - line);
    EXPECT_NE(text.find("marked exclusive, but no program holds a lock on it"), std::string::npos) << text;
    EXPECT_NE(text.find("zlsim (PID"), std::string::npos) << text;
    EXPECT_EQ(BzlProcess::Run({"info", "--port", Port()}, env.dir(), &out, &err), 2);
    EXPECT_NE(err.find("marked exclusive"), std::string::npos) << err;

    // A live holder that locks the line is named as such.
    const int fd = open(sim->SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);  // root passes the mark
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(BzlProcess::Run({"ports", "--json"}, env.dir(), &out, &err), 0);
    EXPECT_EQ(out.find("stale_exclusive"), std::string::npos) << out;
    ioctl(fd, TIOCNXCL);
    close(fd);
}

}  // namespace
}  // namespace zl::test
