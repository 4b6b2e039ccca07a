// bzl against the window's dialog (the scripted face), each against its own zlsim paced
// at 115200 baud:
//   CPU while searching for a switched-off device: bzl's process against a process that
//     runs the dialog alone, over the same span, both read from /proc;
//   Auto-Load of a 1 MiB image: the time from the load command to the copy command and
//     of the block phase, from zlsim's line log, bzl against the window in the same run,
//     each in a process of its own.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "bench/bench_util.h"
#include "bench/block_phase.h"
#include "platform/text_convert.h"
#include "res/resources.h"
#include "tests/cli/bzl_process.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

using namespace std::chrono;
using namespace std::chrono_literals;
using zl::test::ZlSim;

namespace {

std::string Profile(int com) { return "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(com) + "\nPrevDevice=0\n"; }

bool Flooding(const ZlSim& sim) {
    return sim.WaitFor([](const ZlSim& z) { return z.Received().find("BoOt\r") != std::string::npos; }, 30s);
}

double CpuPercent(pid_t pid, seconds span) {
    const double c0 = zl::bench::ProcessCpuSeconds(pid);
    const auto t0 = steady_clock::now();
    std::this_thread::sleep_for(span);
    const double c1 = zl::bench::ProcessCpuSeconds(pid);
    return (c1 - c0) / zl::bench::Seconds(steady_clock::now() - t0) * 100.0;
}

// CPU of the dialog alone in a child process while it searches.
double WindowSearchCpu(seconds span) {
    zl::test::TempEnv env;
    ZlSim sim("pic32", 171, env.dir() + "/line.jsonl", {"--flash", env.dir() + "/flash.bin"});
    const pid_t child = fork();
    if (child == 0) {
        zl::test::DialogHarness ui(env, Profile(171));
        ui.Start();
        for (;;) pause();
    }
    double cpu = -1;
    if (Flooding(sim)) {
        std::this_thread::sleep_for(1s);
        cpu = CpuPercent(child, span);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return cpu;
}

double BzlSearchCpu(seconds span) {
    zl::test::TempEnv env;
    ZlSim sim("pic32", 172, env.dir() + "/line.jsonl", {"--flash", env.dir() + "/flash.bin"});
    zl::test::BzlProcess bzl({"info", "--port", "COM172", "--device", "0"}, env.dir());
    double cpu = -1;
    if (Flooding(sim)) {
        std::this_thread::sleep_for(1s);
        cpu = CpuPercent(bzl.Pid(), span);
    }
    bzl.Signal(SIGINT);
    bzl.Wait(30s);
    return cpu;
}

struct LoadTimes {
    double blocks = -1, whole = -1;  // seconds
    bool equal = false;
};

// From zlsim's log: the load command to the copy command, and the block phase (the
// first block byte after "Load gestartet" to the last byte of the image).
LoadTimes Measure(const ZlSim& sim, size_t length, const std::string& flash, const std::string& image) {
    LoadTimes t;
    const int64_t cmd = sim.EventTime("cmd", "load"), prog = sim.EventTime("cmd", "prog");
    t.blocks = zl::bench::BlockPhaseSeconds(sim.Log(), cmd, length);
    t.whole = (prog - cmd) / 1e6;
    t.equal = zl::test::ReadFile(flash) == zl::test::ReadFile(image);
    return t;
}

// Polls zlsim's log for the copy command every two seconds: reading the whole log of a
// 1 MiB load takes CPU that would otherwise compete with the load.
bool WaitForProg(const ZlSim& sim, seconds limit) {
    const auto end = steady_clock::now() + limit;
    while (sim.EventTime("prog") < 0) {
        if (steady_clock::now() > end) return false;
        std::this_thread::sleep_for(2s);
    }
    std::this_thread::sleep_for(1s);  // the flash file is written with the copy
    return true;
}

// The window's dialog in a child process of its own, as bzl runs in its own.
LoadTimes WindowLoad(const std::string& image, size_t length) {
    zl::test::TempEnv env;
    const std::string flash = env.dir() + "/flash.bin";
    ZlSim sim("pic32", 173, env.dir() + "/line.jsonl", {"--flash", flash});
    int ready[2];
    if (pipe(ready) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        zl::test::DialogHarness ui(env, Profile(173));
        ui.Start();
        ui.platform.QueueFileAnswer(zl::FromUtf8(image));
        const char answer = ui.Click(zl::IDC_AUTOLOAD_ON) ? 'r' : 'f';
        if (write(ready[1], &answer, 1) != 1) _exit(1);
        for (;;) pause();
    }
    close(ready[1]);
    char answer = 0;
    const bool started = read(ready[0], &answer, 1) == 1 && answer == 'r';
    close(ready[0]);
    LoadTimes t;
    if (started && Flooding(sim) && sim.Command("power on") == "ok power on" && WaitForProg(sim, 300s))
        t = Measure(sim, length, flash, image);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return t;
}

LoadTimes BzlLoad(const std::string& image, size_t length) {
    zl::test::TempEnv env;
    const std::string flash = env.dir() + "/flash.bin";
    ZlSim sim("pic32", 174, env.dir() + "/line.jsonl", {"--flash", flash});
    zl::test::BzlProcess bzl({"load", image, "--port", "COM174", "--device", "0"}, env.dir());
    if (!Flooding(sim) || sim.Command("power on") != "ok power on" || !WaitForProg(sim, 300s)) return {};
    if (bzl.Wait(60s) != 0) return std::fprintf(stderr, "%s", bzl.Out().c_str()), LoadTimes{};
    return Measure(sim, length, flash, image);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const seconds span(argc > 1 ? std::atoi(argv[1]) : 30);

    // zl_bench_cli [seconds] [cpu]: "cpu" leaves out the load.
    const double window = WindowSearchCpu(span), bzl = BzlSearchCpu(span);
    std::printf("cpu     searching, device switched off, %ld s each: window's dialog %5.2f %% of one core, bzl %5.2f %% (%+.2f points)\n",
                static_cast<long>(span.count()), window, bzl, bzl - window);
    if (argc > 2 && std::string(argv[2]) == "cpu") return 0;

    zl::test::TempEnv files;
    const size_t length = 1024 * 1024;
    const std::string image = files.dir() + "/fw.spic32";
    if (!ZlSim::Zlfw({"pic32", "--length", std::to_string(length), "-o", image})) return 1;
    const LoadTimes w = WindowLoad(image, length), b = BzlLoad(image, length);
    if (w.whole < 0 || b.whole < 0) return std::fprintf(stderr, "a load did not complete\n"), 1;
    std::printf("load    1 MiB at 115200 baud, load command to copy command: window %8.3f s, bzl %8.3f s (%+.3f %%); "
                "block phase: window %8.3f s, bzl %8.3f s (%+.3f %%); flash %s\n",
                w.whole, b.whole, (b.whole - w.whole) / w.whole * 100.0, w.blocks, b.blocks,
                (b.blocks - w.blocks) / w.blocks * 100.0,
                w.equal && b.equal ? "equal to the image both times" : w.equal ? "DIFFERENT after bzl" : "DIFFERENT after the window");
    const bool ok = std::abs(b.whole - w.whole) / w.whole <= 0.005 && w.equal && b.equal;
    return ok ? 0 : 1;
}
