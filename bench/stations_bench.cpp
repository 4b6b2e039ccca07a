// Stations in one process against zlsim devices paced at 115200 baud:
//   - the wake-up flood of every station and the process's CPU and resident memory while
//     1, 8 and 32 stations search for switched-off devices, PIC32 and HCS kinds (bytes
//     received by each zlsim, from its own line log, against the line rate: 11520 B/s at
//     115200 baud, 5760 B/s at 57600); the zlsims run at a raised priority;
//   - the block phase of a 256 KiB Auto-Load on one station, then on 8 at once (from each
//     zlsim's log: the first block byte after the load command to the "loaded" event),
//     every flash compared with its image, and any box counted.
// Figures are printed; nothing is asserted.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// A kind of device: its zlsim kind, its Device box entry and its line rate in characters a second.
struct Kind {
    const char* sim;
    int device;
    double lineRate;
};
const Kind kPic32{"pic32", 0, 115200.0 / 10.0};
const Kind kHcs{"hcs", 1, 57600.0 / 10.0};

std::vector<Bench> Start(zl::test::TempEnv& env, int firstCom, int n, const std::u16string& autoLoad,
                         const Kind& kind = kPic32) {
    std::vector<Bench> benches;
    for (int i = 0; i < n; ++i) {
        const int com = firstCom + i;
        Bench b;
        b.flash = env.dir() + "/flash" + std::to_string(com);
        b.sim = std::make_unique<ZlSim>(kind.sim, com, env.dir() + "/line" + std::to_string(com) + ".jsonl",
                                        std::vector<std::string>{"--flash", b.flash});
        if (!b.sim->Ready()) std::fprintf(stderr, "zlsim on COM%d did not start\n", com), std::exit(1);
        // zlsim at a raised priority: a simulator that falls behind would look like a gap in the flood.
        setpriority(PRIO_PROCESS, static_cast<id_t>(b.sim->Pid()), -5);
        StationOptions options;
        options.port = zl::ComDeviceName(com);
        options.device = kind.device;
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

void Searching(zl::test::TempEnv& env, int firstCom, int n, seconds span, const Kind& kind) {
    std::vector<Bench> benches = Start(env, firstCom, n, u"", kind);
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
    const double cpu = (c1 - c0) / wall * 100.0;
    std::printf("search  %-5s %2d station(s): CPU %5.2f s in %5.2f s = %5.1f %% of one core (%5.2f %% per station), "
                "resident %5.1f MiB; flood per station min %6.0f B/s (%5.1f %% of the line), mean %6.0f B/s (%5.1f %%)\n",
                kind.sim, n, c1 - c0, wall, cpu, cpu / n, ResidentMiB(), lo, lo / kind.lineRate * 100.0, sum / n,
                sum / n / kind.lineRate * 100.0);
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

// A field of /proc/self/status ("VmRSS", "Threads") as a number.
long SelfStatus(const std::string& field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

long SelfDescriptors() {
    std::error_code ec;
    long n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// What a station shows, for a cycle that went wrong.
void Describe(size_t station, const zl::stations::StationView& v) {
    std::printf("soak      station %zu: status \"%s\", %d good, %d failed, verdict \"%s\", box \"%s\", result \"%s\"\n",
                station, zl::ToUtf8(v.status).c_str(), v.good, v.failed, zl::ToUtf8(v.verdictText).c_str(),
                v.box ? zl::ToUtf8(v.box->text).c_str() : "", zl::ToUtf8(v.result).c_str());
}

// Four stations at once, Auto-Load on, each with a file of its own that gets a new 4 KiB
// image every cycle: switched on together, every flash compared with its image, switched
// off, searching again. The process's resident memory, threads and descriptors after
// cycles 1, 10, 100 and the last.
int Soak(zl::test::TempEnv& env, int cycles) {
    constexpr int kStations = 4, kFirstCom = 200;
    std::vector<std::string> images;
    for (int i = 0; i < kStations; ++i) {
        images.push_back(env.dir() + "/soak" + std::to_string(i) + ".spic32");
        if (!ZlSim::Zlfw({"pic32", "--length", "4096", "-o", images.back()})) return 1;
    }
    std::vector<Bench> benches;
    for (int i = 0; i < kStations; ++i) {
        std::vector<Bench> one = Start(env, kFirstCom + i, 1, zl::FromUtf8(images[static_cast<size_t>(i)]));
        benches.push_back(std::move(one.front()));
    }
    const std::u16string searching = zl::Text(zl::TextId::StatusSearching, false);
    int good = 0;
    const auto t0 = steady_clock::now();
    for (int c = 1; c <= cycles; ++c) {
        for (int i = 0; i < kStations; ++i) {
            const std::string next = images[static_cast<size_t>(i)] + ".next";
            if (!ZlSim::Zlfw({"pic32", "--length", "4096", "--seed", std::to_string(c * kStations + i), "-o", next}) ||
                std::rename(next.c_str(), images[static_cast<size_t>(i)].c_str()) != 0)
                return std::fprintf(stderr, "no image\n"), 1;
        }
        for (Bench& b : benches) b.sim->Command("power on");
        if (!WaitAll(benches, [&](const auto& v) { return v.good + v.failed >= c; }, 120s)) {
            std::fprintf(stderr, "soak cycle %d: not every station ended its load\n", c);
            for (size_t i = 0; i < benches.size(); ++i) Describe(i + 1, benches[i].station->View());
            return 1;
        }
        for (size_t i = 0; i < benches.size(); ++i) {
            benches[i].station->TakeDone();  // as the window takes each finished device
            const auto v = benches[i].station->View();
            if (v.good == c && ReadFile(benches[i].flash) == ReadFile(images[i])) {
                ++good;
                continue;
            }
            std::printf("soak    cycle %d, station %zu: %s\n", c, i + 1, v.good == c ? "flash differs" : "load failed");
            Describe(i + 1, v);
        }
        for (Bench& b : benches) b.sim->Command("power off");
        if (!WaitAll(benches, [&](const auto& v) { return v.status == searching; }, 60s))
            return std::fprintf(stderr, "soak cycle %d: not searching again\n", c), 1;
        if (c == 1 || c == 10 || c == 100 || c == cycles)
            std::printf("soak    4 stations after cycle %4d: %6ld kB resident, %3ld threads, %3ld descriptors; %.2f s per cycle\n",
                        c, SelfStatus("VmRSS"), SelfStatus("Threads"), SelfDescriptors(),
                        zl::bench::Seconds(steady_clock::now() - t0) / c);
        std::fflush(stdout);
    }
    std::printf("soak    4 stations: %d of %d loads verified in %.1f s\n", good, cycles * kStations,
                zl::bench::Seconds(steady_clock::now() - t0));
    Stop(benches);
    return good == cycles * kStations ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const seconds span(argc > 1 ? std::atoi(argv[1]) : 20);
    zl::test::TempEnv env;
    // zl_bench_stations SECONDS soak CYCLES: the soak of four stations alone.
    if (argc > 3 && std::string(argv[2]) == "soak") return Soak(env, std::atoi(argv[3]));
    const std::string image = env.dir() + "/fw.spic32";
    if (!ZlSim::Zlfw({"pic32", "--length", "262144", "-o", image})) return std::fprintf(stderr, "zlfw failed\n"), 1;

    for (const Kind* kind : {&kPic32, &kHcs}) {
        Searching(env, 120, 1, span, *kind);
        Searching(env, 130, 8, span, *kind);
        Searching(env, 140, 32, span, *kind);
    }

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
