// Auto-Load against zlsim, in two parts.
//   Speed: one load each of a 128 KiB and a 1 MiB image, zlsim paced at 115200 baud.
//     Printed: the time from the first block byte to the last against the line time of
//     the image (L x 10 / 115200 s), and the whole load (from the load command to the
//     programming command) against that line time.
//   Soak: 20 power cycles of one device with Auto-Load on (zlsim unpaced), each image
//     compared with zlsim's flash; the resident memory, threads and open descriptors of
//     the process that runs the dialog, after the first cycle and after the last.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "bench/bench_util.h"
#include "bench/block_phase.h"
#include "platform/text_convert.h"
#include "res/resources.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

using namespace std::chrono;
using namespace std::chrono_literals;
using zl::test::ZlSim;

namespace {

constexpr int kCom = 108;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Auto-Load switched on with the file, as the user does with the button.
bool AutoLoad(zl::test::DialogHarness& ui, const std::string& path) {
    ui.platform.QueueFileAnswer(zl::FromUtf8(path));
    return ui.Click(zl::IDC_AUTOLOAD_ON) && ui.dlg->m_strAutoLoadPath.Get() == zl::FromUtf8(path);
}

// zlsim on COM kCom and, unless told otherwise, the dialog with a profile that selects it.
struct Session {
    explicit Session(std::vector<std::string> simArgs, bool withDialog = true) {
        flash = env.dir() + "/flash.bin";
        simArgs.insert(simArgs.end(), {"--flash", flash});
        sim = std::make_unique<ZlSim>("pic32", kCom, env.dir() + "/line.jsonl", simArgs);
        if (withDialog) StartDialog();
    }
    void StartDialog() {
        ui = std::make_unique<zl::test::DialogHarness>(env, "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(kCom) + "\nPrevDevice=0\n");
        ui->Start();
    }
    std::string Image(size_t length) {
        const std::string path = env.dir() + "/fw" + std::to_string(length) + ".spic32";
        return ZlSim::Zlfw({"pic32", "--length", std::to_string(length), "--name", "Bench", "-o", path}) ? path : "";
    }
    bool Searching() { return ui->WaitForText(zl::IDC_STATUS, u"Suche nach Ger\u00e4t", 30s); }
    zl::test::TempEnv env;
    std::string flash;
    std::unique_ptr<ZlSim> sim;
    std::unique_ptr<zl::test::DialogHarness> ui;
};

int Speed(size_t length) {
    Session s({});
    const std::string image = s.Image(length);
    if (image.empty() || !AutoLoad(*s.ui, image) || !s.Searching()) return std::fprintf(stderr, "set-up failed\n"), 1;
    if (s.sim->Command("power on") != "ok power on") return 1;
    const seconds limit(30 + static_cast<long>(length * 10 / 115200) * 2);
    if (!s.sim->WaitFor([](const ZlSim& z) { return z.EventTime("prog") >= 0; }, limit))
        return std::fprintf(stderr, "no load of %zu bytes\n", length), 1;
    // From the line log: the load command, the answer, then the blocks as they came in.
    const int64_t cmd = s.sim->EventTime("cmd", "load"), prog = s.sim->EventTime("prog");
    const double blocks = zl::bench::BlockPhaseSeconds(s.sim->Log(), cmd, length);
    const double line = static_cast<double>(length) * 10.0 / 115200.0;
    const double whole = (prog - cmd) / 1e6;
    // The length check comes 37 x 100 ms after the copy command: wait for it.
    std::this_thread::sleep_for(4s);
    const auto boxes = s.ui->platform.Boxes();
    const bool equal = ReadAll(s.flash) == ReadAll(image);
    std::printf("load    %7zu bytes: blocks %7.3f s, line time %7.3f s (%+.2f %%); load command to prog %7.3f s "
                "(line time + %.3f s); flash %s; %s\n",
                length, blocks, line, (blocks - line) / line * 100.0, whole, whole - line,
                equal ? "equal to the image" : "DIFFERENT",
                boxes.empty() ? "no box" : ("box: " + zl::ToUtf8(boxes[0].text)).c_str());
    s.ui->Stop();
    return equal && boxes.empty() ? 0 : 1;
}

// A field of /proc/<pid>/status ("VmRSS", "Threads") as a number.
long Status(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

// Open file descriptors of a process.
long Descriptors(pid_t pid) {
    std::error_code ec;
    long n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// The time of the n-th event of that name (1-based), or -1.
int64_t NthEvent(const std::vector<ZlSim::Entry>& log, const std::string& event, size_t n) {
    for (const auto& e : log)
        if (e.event == event && --n == 0) return e.t_us;
    return -1;
}

// The soak runs the dialog in a child process of its own, so that the figures are the
// program's alone: this process reads zlsim's whole line log on every poll, the child
// does nothing but run the dialog with Auto-Load on.
int Soak(int cycles) {
    Session s({"--no-pacing"}, false);
    const std::string image = s.Image(64 * 1024);
    if (image.empty()) return std::fprintf(stderr, "set-up failed\n"), 1;
    int ready[2];
    if (pipe(ready) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        s.StartDialog();
        const char answer = AutoLoad(*s.ui, image) ? 'r' : 'f';
        if (write(ready[1], &answer, 1) != 1) _exit(1);
        for (;;) pause();  // ended by SIGKILL; nothing of the parent's is torn down here
    }
    close(ready[1]);
    char answer = 0;
    const bool started = read(ready[0], &answer, 1) == 1 && answer == 'r';
    close(ready[0]);
    auto end = [&](int rc) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        return rc;
    };
    if (!started) return std::fprintf(stderr, "the dialog did not start with Auto-Load on\n"), end(1);
    // Searching: wake-up strings arrive after the given time.
    auto searching = [&](int64_t after) {
        return s.sim->WaitFor([&](const ZlSim& z) {
            for (const auto& e : z.Log())
                if (e.t_us > after && e.dir == "rx" && e.bytes.find("BoOt") != std::string::npos) return true;
            return false;
        }, 30s);
    };
    if (!searching(0)) return std::fprintf(stderr, "no search\n"), end(1);

    const std::string wanted = ReadAll(image);
    long rss1 = 0, threads1 = 0, fds1 = 0;
    int good = 0;
    const auto t0 = steady_clock::now();
    for (int i = 1; i <= cycles; ++i) {
        const size_t n = static_cast<size_t>(i);
        if (s.sim->Command("power on") != "ok power on") return end(1);
        const bool loaded = s.sim->WaitFor([&](const ZlSim& z) { return NthEvent(z.Log(), "prog", n) >= 0; }, 60s);
        // After the load the information thread asks for the self-description again.
        const bool asked = loaded && s.sim->WaitFor([&](const ZlSim& z) {
            const auto log = z.Log();
            const int64_t prog = NthEvent(log, "prog", n);
            for (const auto& e : log)
                if (e.t_us > prog && e.event == "cmd" && e.name == "menu") return true;
            return false;
        }, 30s);
        if (loaded && asked && ReadAll(s.flash) == wanted) ++good;
        else std::printf("soak    cycle %d: %s\n", i, !loaded ? "no load" : !asked ? "no information cycle after it" : "flash differs");
        if (s.sim->Command("power off") != "ok power off") return end(1);
        if (!searching(NthEvent(s.sim->Log(), "power_off", n))) return std::fprintf(stderr, "not searching again\n"), end(1);
        std::this_thread::sleep_for(1s);
        if (i == 1) rss1 = Status(child, "VmRSS"), threads1 = Status(child, "Threads"), fds1 = Descriptors(child);
    }
    std::printf("soak    %d of %d power cycles loaded and verified in %.1f s; the program's process after cycle 1: "
                "%ld kB resident, %ld threads, %ld descriptors; after cycle %d: %ld kB resident, %ld threads, %ld descriptors\n",
                good, cycles, zl::bench::Seconds(steady_clock::now() - t0), rss1, threads1, fds1, cycles,
                Status(child, "VmRSS"), Status(child, "Threads"), Descriptors(child));
    return end(good == cycles ? 0 : 1);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show up as they come
    // zl_bench_load [cycles] [soak]: "soak" leaves out the speed figures.
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool soakOnly = argc > 2 && std::string(argv[2]) == "soak";
    int rc = 0;
    if (!soakOnly) rc |= Speed(128 * 1024) | Speed(1024 * 1024);
    rc |= Soak(cycles);
    return rc;
}
