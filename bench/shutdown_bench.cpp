// Stations under stress, against zlsim devices paced at 115200 baud, with both cores kept
// busy by CPU hogs (two spinning processes at the same priority):
//   - ROUNDS rounds of four stations loading a 64 KiB image, all quit at once (as the
//     station window's close quits them) at a moment in the middle of their loads: how
//     long the quits took, and any load cut short (a flash that is not the image) or
//     reported failed;
//   - ROUNDS rounds of two stations loading one shared 64 KiB file at once: any load
//     reported failed although its flash equals the image.
// Figures are printed; nothing is asserted. Usage: zl_bench_shutdown [ROUNDS] [--no-hog]
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "platform/text_convert.h"
#include "records/record_log.h"
#include "stations/port_list.h"
#include "stations/station.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

using namespace std::chrono;
using namespace std::chrono_literals;
using zl::stations::Station;
using zl::stations::StationOptions;
using zl::test::ZlSim;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool WaitUntil(const std::function<bool()>& pred, milliseconds timeout) {
    const auto end = steady_clock::now() + timeout;
    while (!pred()) {
        if (steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

struct Bench {
    std::unique_ptr<ZlSim> sim;
    std::unique_ptr<Station> station;
    std::string flash;
};

struct Round {
    int loads = 0, notBegun = 0, cut = 0, reportedFailed = 0, failedButWhole = 0;
    double quitSeconds = 0;
};

// stations devices, each loaded with image; quitMidLoad: all are quit at once during
// their loads, else they finish and are quit after.
Round RunRound(zl::test::TempEnv& env, const std::string& image, int firstCom, int stations, bool quitMidLoad,
               std::mt19937& rng) {
    Round r;
    zl::RecordLog records(env.dir() + "/records.ndjson", "bench", "bench", [](const std::string&) {});
    std::vector<Bench> benches(static_cast<size_t>(stations));
    for (int i = 0; i < stations; ++i) {
        Bench& b = benches[static_cast<size_t>(i)];
        const int com = firstCom + i;
        b.flash = env.dir() + "/flash" + std::to_string(com);
        std::remove(b.flash.c_str());
        // A log of its own per round: the events of an earlier round must not count.
        static int serial = 0;
        const std::string log = env.dir() + "/line" + std::to_string(com) + "-" + std::to_string(serial++) + ".jsonl";
        b.sim = std::make_unique<ZlSim>("pic32", com, log,
                                        std::vector<std::string>{"--flash", b.flash});
        StationOptions options;
        options.port = zl::ComDeviceName(com);
        options.autoLoad = zl::FromUtf8(image);
        b.station = std::make_unique<Station>(options, &records, nullptr);
        b.station->Start();
        WaitUntil([&] { return b.station->StartupDone(); }, 10s);
    }
    for (Bench& b : benches) WaitUntil([&] { return ZlSim::Count(b.sim->Received(), "BoOt\r") > 10; }, 20s);
    for (Bench& b : benches) b.sim->Command("power on");
    for (Bench& b : benches) WaitUntil([&] { return b.sim->EventTime("cmd", "load") >= 0; }, 30s);
    std::vector<bool> begun;
    if (quitMidLoad) {
        std::this_thread::sleep_for(milliseconds(std::uniform_int_distribution<int>(0, 3000)(rng)));
        for (Bench& b : benches) begun.push_back(b.sim->EventTime("cmd", "load") >= 0);
        const auto t0 = steady_clock::now();
        std::vector<std::thread> quits;
        for (Bench& b : benches) quits.emplace_back([&b] { b.station->Quit(); });
        for (std::thread& t : quits) t.join();
        r.quitSeconds = zl::bench::Seconds(steady_clock::now() - t0);
    } else {
        for (Bench& b : benches)
            WaitUntil([&] { return b.station->View().good + b.station->View().failed > 0; }, 60s);
        for (Bench& b : benches) b.station->Quit();
    }
    const std::string fw = ReadFile(image);
    for (size_t i = 0; i < benches.size(); ++i) {
        Bench& b = benches[i];
        const bool whole = ReadFile(b.flash) == fw;
        const bool failed = b.station->View().failed > 0;
        if (!begun.empty() && !begun[i]) {
            ++r.notBegun;  // its device was not caught before the quit: nothing to finish
            b.station.reset();
            b.sim.reset();
            continue;
        }
        ++r.loads;
        r.cut += !whole;
        r.reportedFailed += failed;
        r.failedButWhole += failed && whole;
        b.station.reset();
        b.sim.reset();
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    bool hog = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-hog") == 0) hog = false;
        else rounds = std::atoi(argv[i]);
    }
    zl::test::TempEnv env;
    const std::string image = env.dir() + "/fw.spic32";
    if (!ZlSim::Zlfw({"pic32", "--length", std::to_string(64 * 1024), "-o", image})) return 1;
    std::vector<pid_t> hogs;
    for (int i = 0; hog && i < 2; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // a hog never outlives the benchmark
            volatile unsigned long n = 0;
            for (;;) n = n + 1;
        }
        hogs.push_back(pid);
    }
    std::printf("CPU hogs: %zu spinning processes; %d rounds each\n", hogs.size(), rounds);
    std::mt19937 rng(42);

    Round quit;
    for (int i = 0; i < rounds; ++i) {
        const Round r = RunRound(env, image, 141, 4, true, rng);
        std::printf("quit mid-load, round %d: 4 stations quit in %.1f s; loads begun %d, cut short %d, reported failed %d\n",
                    i + 1, r.quitSeconds, r.loads, r.cut, r.reportedFailed);
        std::fflush(stdout);
        quit.loads += r.loads, quit.notBegun += r.notBegun, quit.cut += r.cut, quit.reportedFailed += r.reportedFailed;
        quit.quitSeconds = std::max(quit.quitSeconds, r.quitSeconds);
    }
    Round shared;
    for (int i = 0; i < rounds; ++i) {
        const Round r = RunRound(env, image, 151, 2, false, rng);
        std::printf("one file, two stations, round %d: reported failed %d, of them with the whole image %d\n", i + 1,
                    r.reportedFailed, r.failedButWhole);
        std::fflush(stdout);
        shared.loads += r.loads, shared.reportedFailed += r.reportedFailed, shared.failedButWhole += r.failedButWhole;
    }
    for (pid_t pid : hogs) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::printf("quit mid-load: %d loads begun (%d devices not yet caught), %d cut short, %d reported failed, "
                "longest quit of four %.1f s\n",
                quit.loads, quit.notBegun, quit.cut, quit.reportedFailed, quit.quitSeconds);
    std::printf("one shared file: %d loads, %d reported failed, %d of them with the whole image in the flash\n",
                shared.loads, shared.reportedFailed, shared.failedButWhole);
    return 0;
}
