// Auto-Load against zlsim, in two parts.
//   Speed: one load each of a 128 KiB and a 1 MiB image, zlsim paced at 115200 baud.
//     Printed: the time from the first block byte to the last against the line time of
//     the image (L x 10 / 115200 s), and the whole load (from the load command to the
//     programming command) against that line time.
//   Soak: SOAK_CYCLES (argument; default 20) power cycles of one device with Auto-Load on
//     (zlsim unpaced), a new 4 KiB image each cycle, each compared with zlsim's flash; the
//     resident memory, threads and open descriptors of the process that runs the dialog
//     after cycles 1, 10, 100, 1000 and the last, and the time per cycle.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
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

// The soak's view of zlsim's line log: only what was logged since the last look is
// read, so that a run of a thousand cycles does not read the whole log on every poll.
class LogTail {
public:
    explicit LogTail(const ZlSim& sim) : sim_(sim) {}
    // Waits until an entry logged from now on satisfies pred.
    bool WaitFor(const std::function<bool(const ZlSim::Entry&)>& pred, seconds timeout) {
        const auto end = steady_clock::now() + timeout;
        for (;;) {
            for (const auto& e : sim_.LogFrom(offset_))
                if (pred(e)) return true;
            if (steady_clock::now() > end) return false;
            std::this_thread::sleep_for(20ms);
        }
    }

private:
    const ZlSim& sim_;
    uint64_t offset_ = 0;
};

// The figures of the program's process after a cycle.
void PrintProcess(pid_t pid, int cycle, double secondsSoFar) {
    std::printf("soak    after cycle %4d: %6ld kB resident, %3ld threads, %3ld descriptors; %.2f s per cycle so far\n",
                cycle, Status(pid, "VmRSS"), Status(pid, "Threads"), Descriptors(pid), secondsSoFar / cycle);
}

bool Reported(int cycle, int cycles) { return cycle == 1 || cycle == 10 || cycle == 100 || cycle == 1000 || cycle == cycles; }

// The soak runs the dialog in a child process of its own, so that the figures are the
// program's alone: this process reads zlsim's line log, the child does nothing but run
// the dialog with Auto-Load on. Every cycle loads a new 4 KiB image (zlfw with another
// seed, written beside the Auto-Load file and renamed over it before the switch-on) and
// compares zlsim's flash with it.
int Soak(int cycles) {
    Session s({"--no-pacing"}, false);
    const std::string image = s.Image(4096);
    if (image.empty()) return std::fprintf(stderr, "set-up failed\n"), 1;
    int ready[2];
    if (pipe(ready) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        s.StartDialog();
        s.ui->platform.KeepRecords(1);
        const char answer = AutoLoad(*s.ui, image) ? 'r' : 'f';
        if (write(ready[1], &answer, 1) != 1) _exit(1);
        // Ended by SIGKILL; nothing of the parent's is torn down here. Meanwhile every
        // transfer that did not end well is told, with its cause and box.
        int64_t last = 0;
        for (;;) {
            std::this_thread::sleep_for(100ms);
            for (const zl::TransferRecord& r : s.ui->platform.Records()) {
                if (r.startedUs <= last) continue;
                last = r.startedUs;
                if (r.outcome != zl::Outcome::Ok)
                    std::fprintf(stderr, "soak    %s ended %s (%s), %llu bytes sent; box \"%s\"\n", zl::OperationName(r.operation),
                                 zl::OutcomeName(r.outcome), zl::CauseName(r.cause), static_cast<unsigned long long>(r.bytes),
                                 zl::ToUtf8(r.boxText).c_str());
            }
        }
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
    LogTail tail(*s.sim);
    auto wakeUp = [](const ZlSim::Entry& e) { return e.dir == "rx" && e.bytes.find("BoOt") != std::string::npos; };
    if (!tail.WaitFor(wakeUp, 30s)) return std::fprintf(stderr, "no search\n"), end(1);

    int good = 0;
    const auto t0 = steady_clock::now();
    for (int i = 1; i <= cycles; ++i) {
        const std::string next = image + ".next";
        if (!ZlSim::Zlfw({"pic32", "--length", "4096", "--name", "Bench", "--seed", std::to_string(i), "-o", next}) ||
            std::rename(next.c_str(), image.c_str()) != 0)
            return std::fprintf(stderr, "no image for cycle %d\n", i), end(1);
        const std::string wanted = ReadAll(image);
        if (s.sim->Command("power on") != "ok power on") return end(1);
        const bool loaded = tail.WaitFor([](const ZlSim::Entry& e) { return e.event == "prog"; }, 60s);
        // After the load the information thread asks for the self-description again.
        const bool asked = loaded && tail.WaitFor([](const ZlSim::Entry& e) { return e.event == "cmd" && e.name == "menu"; }, 30s);
        if (loaded && asked && ReadAll(s.flash) == wanted) ++good;
        else std::printf("soak    cycle %d: %s\n", i, !loaded ? "no load" : !asked ? "no information cycle after it" : "flash differs");
        if (s.sim->Command("power off") != "ok power off") return end(1);
        if (!tail.WaitFor(wakeUp, 30s)) return std::fprintf(stderr, "not searching again\n"), end(1);
        std::this_thread::sleep_for(Reported(i, cycles) ? 1s : 200ms);  // the search settles
        if (Reported(i, cycles)) PrintProcess(child, i, zl::bench::Seconds(steady_clock::now() - t0));
    }
    std::printf("soak    %d of %d power cycles loaded and verified (4 KiB, a new image each) in %.1f s\n", good, cycles,
                zl::bench::Seconds(steady_clock::now() - t0));
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
