// Stations in one process against zlsim devices paced at 115200 baud:
//   - the wake-up flood of every station and the process's CPU and resident memory while
//     1, 8 and 32 stations search for switched-off devices (bytes received by each zlsim,
//     from its own line log, against the line rate of 11520 B/s);
//   - the block phase of a 256 KiB Auto-Load on one station, then on 8 at once (from each
//     zlsim's log: the first block byte after the load command to the "loaded" event),
//     every flash compared with its image, and any box counted.
// Figures are printed; nothing is asserted.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/texts.h"
#include "bench/bench_util.h"
#include "platform/text_convert.h"
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

constexpr double kLineRate = 115200.0 / 10.0;

struct Bench {
    std::unique_ptr<ZlSim> sim;
    std::unique_ptr<Station> station;
    std::string flash;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double ResidentMiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

// Bytes the device received in [t0, t1] (steady clock, microseconds), from its log.
size_t ReceivedBetween(const ZlSim& sim, int64_t t0, int64_t t1) {
    size_t n = 0;
    for (const auto& e : sim.Log())
        if (e.dir == "rx" && e.t_us > t0 && e.t_us <= t1) n += e.bytes.size();
    return n;
}

int64_t NowUs() { return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count(); }

bool WaitAll(std::vector<Bench>& benches, const std::function<bool(const zl::stations::StationView&)>& pred,
             seconds timeout) {
    const auto end = steady_clock::now() + timeout;
    for (Bench& b : benches)
        while (!pred(b.station->View()))
            if (steady_clock::now() > end) return false;
            else std::this_thread::sleep_for(20ms);
    return true;
}

std::vector<Bench> Start(zl::test::TempEnv& env, int firstCom, int n, const std::u16string& autoLoad) {
    std::vector<Bench> benches;
    for (int i = 0; i < n; ++i) {
        const int com = firstCom + i;
        Bench b;
        b.flash = env.dir() + "/flash" + std::to_string(com);
        b.sim = std::make_unique<ZlSim>("pic32", com, env.dir() + "/line" + std::to_string(com) + ".jsonl",
                                        std::vector<std::string>{"--flash", b.flash});
        if (!b.sim->Ready()) std::fprintf(stderr, "zlsim on COM%d did not start\n", com), std::exit(1);
        StationOptions options;
        options.port = zl::ComDeviceName(com);
        options.autoLoad = autoLoad;
        b.station = std::make_unique<Station>(options, nullptr, nullptr);
        benches.push_back(std::move(b));
    }
    // One start-up at a time, as the station window starts them.
    for (Bench& b : benches) {
        b.station->Start();
        const auto end = steady_clock::now() + 10s;
        while (!b.station->StartupDone() && steady_clock::now() < end) std::this_thread::sleep_for(10ms);
    }
    const std::u16string searching = zl::Text(zl::TextId::StatusSearching, false);
    if (!WaitAll(benches, [&](const auto& v) { return v.status == searching; }, 60s))
        std::fprintf(stderr, "not every station searches\n"), std::exit(1);
    return benches;
}

void Stop(std::vector<Bench>& benches) {
    std::vector<std::thread> quits;
    for (Bench& b : benches) quits.emplace_back([&b] { b.station.reset(); });
    for (std::thread& t : quits) t.join();
    benches.clear();
}

void Searching(zl::test::TempEnv& env, int firstCom, int n, seconds span) {
    std::vector<Bench> benches = Start(env, firstCom, n, u"");
    std::this_thread::sleep_for(2s);
    const double c0 = zl::bench::OwnCpuSeconds();
    const int64_t t0 = NowUs();
    std::this_thread::sleep_for(span);
    const int64_t t1 = NowUs();
    const double c1 = zl::bench::OwnCpuSeconds();
    const double wall = (t1 - t0) / 1e6;
    double lo = 1e9, sum = 0;
    for (Bench& b : benches) {
        const double rate = ReceivedBetween(*b.sim, t0, t1) / wall;
        lo = std::min(lo, rate);
        sum += rate;
    }
    std::printf("search  %2d station(s): CPU %5.2f s in %5.2f s = %5.1f %% of one core, resident %5.1f MiB; "
                "flood per station min %6.0f B/s (%5.1f %% of the line), mean %6.0f B/s (%5.1f %%)\n",
                n, c1 - c0, wall, (c1 - c0) / wall * 100.0, ResidentMiB(), lo, lo / kLineRate * 100.0, sum / n,
                sum / n / kLineRate * 100.0);
    std::fflush(stdout);
    Stop(benches);
}

// The block phase of the load in a zlsim's log, in seconds (-1 when there was none).
double BlockPhase(const ZlSim& sim) {
    int64_t command = -1, first = -1, loaded = -1;
    for (const auto& e : sim.Log()) {
        if (e.event == "cmd" && e.name == "load") command = e.t_us, first = -1;
        else if (command >= 0 && first < 0 && e.dir == "rx") first = e.t_us;
        else if (e.event == "loaded" && first >= 0) loaded = e.t_us;
    }
    return loaded > first && first >= 0 ? (loaded - first) / 1e6 : -1;
}

std::vector<double> Loading(zl::test::TempEnv& env, int firstCom, int n, const std::string& image) {
    std::vector<Bench> benches = Start(env, firstCom, n, zl::FromUtf8(image));
    for (Bench& b : benches) b.sim->Command("power on");
    int boxes = 0;
    const auto end = steady_clock::now() + 180s;
    for (bool done = false; !done && steady_clock::now() < end;) {
        std::this_thread::sleep_for(50ms);
        done = true;
        for (Bench& b : benches) {
            const auto v = b.station->View();
            if (v.box) {
                ++boxes;
                std::printf("box     COM%d: %s\n", firstCom, zl::ToUtf8(v.box->text).c_str());
                b.station->Answer(v.box->id, 1);
            }
            done = done && v.good + v.failed >= 1;
        }
    }
    const std::string fw = ReadFile(image);
    std::vector<double> phases;
    int equal = 0;
    for (Bench& b : benches) {
        phases.push_back(BlockPhase(*b.sim));
        equal += ReadFile(b.flash) == fw;
    }
    std::printf("load    %d station(s): %d of %d flashes equal to the image, %d box(es)\n", n, equal, n, boxes);
    Stop(benches);
    return phases;
}

}  // namespace

int main(int argc, char** argv) {
    const seconds span(argc > 1 ? std::atoi(argv[1]) : 20);
    zl::test::TempEnv env;
    const std::string image = env.dir() + "/fw.spic32";
    if (!ZlSim::Zlfw({"pic32", "--length", "262144", "-o", image})) return std::fprintf(stderr, "zlfw failed\n"), 1;

    Searching(env, 120, 1, span);
    Searching(env, 130, 8, span);
    Searching(env, 140, 32, span);

    const std::vector<double> single = Loading(env, 180, 1, image);
    const std::vector<double> eight = Loading(env, 190, 8, image);
    const double line = 262144.0 / kLineRate;
    std::printf("blocks  line time of 256 KiB at 115200 baud: %.3f s; one station alone: %.3f s\n", line, single[0]);
    double worst = 0;
    for (size_t i = 0; i < eight.size(); ++i) {
        const double dev = (eight[i] - single[0]) / single[0] * 100.0;
        worst = std::max(worst, std::abs(dev));
        std::printf("blocks  station %zu of 8 (COM%zu): %.3f s, %+.2f %% against the single station\n", i + 1, 190 + i,
                    eight[i], dev);
    }
    std::printf("blocks  8 stations: largest difference %.2f %% (within 1 %%: %s)\n", worst, worst <= 1.0 ? "yes" : "NO");
    return 0;
}
