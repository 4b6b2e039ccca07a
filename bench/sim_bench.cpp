// zlsim's own figures: how closely it paces a long transfer to the line rate, in both
// directions, and how much CPU it takes on a quiet line and on a line flooded with
// wake-up strings.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>

#include "bench/bench_util.h"
#include "tests/sim/sim_port.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using zl::simtest::PortLink;
using zl::simtest::SimPort;
using zl::simtest::SimProcess;
using zl::test::ZlSim;

constexpr size_t kSize = 64 * 1024;

std::string Image(const zl::test::TempEnv& env) {
    const std::string path = env.dir() + "/image.spic32";
    ZlSim::Zlfw({"pic32", "--length", std::to_string(kSize), "-o", path});
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Report(unsigned baud, const char* direction, size_t bytes, double seconds) {
    const double line = baud / 10.0;
    const double rate = bytes / seconds;
    std::printf("pacing  %6u baud  %-15s %6zu bytes in %6.3f s = %8.1f B/s  line rate %7.1f B/s  deviation %+5.2f %%\n",
                baud, direction, bytes, seconds, rate, line, (rate / line - 1.0) * 100.0);
}

// 64 KiB from the program to zlsim: a load of 128 blocks written as fast as the line takes them.
// Measured from zlsim's log: from its first read of the image to its last.
bool PacingIn(unsigned baud, int com) {
    zl::test::TempEnv env;
    const std::string image = Image(env);
    ZlSim sim("pic32", com, env.dir() + "/line.jsonl", {"--baud", std::to_string(baud), "--flash", env.dir() + "/flash.bin"});
    SimPort port;
    if (!sim.Ready() || !port.Open(PortLink(com), baud)) return false;
    sim.Command("power on");
    if (port.WakeUntil("l").find('l') == std::string::npos) return false;
    port.ReadUntilSilent(200ms);
    port.Command("load");
    if (port.ReadUntil("Load gestartet").find("Load gestartet") == std::string::npos) return false;
    port.ReadUntilSilent(100ms);
    const auto commandAt = sim.EventTime("cmd", "load");
    for (size_t at = 0; at < image.size(); at += 512) port.Write(image.substr(at, 512));
    if (!sim.WaitFor([](const ZlSim& s) { return s.EventTime("loaded") >= 0; }, 60s)) return false;
    int64_t first = -1, last = -1;
    size_t bytes = 0, firstBytes = 0;
    for (const auto& e : sim.Log()) {
        if (e.dir != "rx" || e.t_us <= commandAt) continue;
        if (first < 0) first = e.t_us, firstBytes = e.bytes.size();
        last = e.t_us;
        bytes += e.bytes.size();
    }
    if (bytes != image.size() || last <= first) return false;
    Report(baud, "program->zlsim", bytes - firstBytes, (last - first) / 1e6);
    return true;
}

// 64 KiB from zlsim to the program: a readout, timed where the program receives it.
bool PacingOut(unsigned baud, int com) {
    zl::test::TempEnv env;
    const std::string image = Image(env);
    std::ofstream(env.dir() + "/flash.bin", std::ios::binary) << image;
    ZlSim sim("pic32", com, env.dir() + "/line.jsonl", {"--baud", std::to_string(baud), "--flash", env.dir() + "/flash.bin"});
    SimPort port;
    if (!sim.Ready() || !port.Open(PortLink(com), baud)) return false;
    sim.Command("power on");
    if (port.WakeUntil("l").find('l') == std::string::npos) return false;
    port.ReadUntilSilent(200ms);
    port.Command("read");
    std::string first = port.ReadCount(1, 10s);
    if (first.empty()) return false;
    const auto t0 = steady_clock::now();
    const std::string rest = port.ReadCount(kSize - first.size(), 60s);
    const auto t1 = steady_clock::now();
    if (first.size() + rest.size() != kSize) return false;
    Report(baud, "zlsim->program", rest.size(), zl::bench::Seconds(t1 - t0));
    return true;
}

// CPU of zlsim over a span: switched off or on (waiting for the wake-up), with or without
// wake-ups flooding its line.
bool Cpu(bool flood, bool on, int com, seconds span) {
    zl::test::TempEnv env;
    SimProcess sim({"--kind", "pic32", "--com", std::to_string(com)});
    if (sim.WaitReady().empty()) return false;
    SimPort port;
    if (!port.Open(PortLink(com), 115200)) return false;
    if (on && sim.Command("power on") != "ok power on") return false;
    std::atomic<bool> run{true};
    std::thread writer;
    std::atomic<size_t> written{0};
    if (flood)
        writer = std::thread([&] {
            while (run) {
                port.Write("BoOt\r");
                written += 5;
            }
        });
    std::this_thread::sleep_for(500ms);  // settled
    const double c0 = zl::bench::ProcessCpuSeconds(sim.Pid());
    const auto t0 = steady_clock::now();
    std::this_thread::sleep_for(span);
    const double c1 = zl::bench::ProcessCpuSeconds(sim.Pid());
    const double wall = zl::bench::Seconds(steady_clock::now() - t0);
    run = false;
    if (writer.joinable()) {
        // Ending zlsim hangs up the line, which frees a writer blocked on a full line.
        sim.Signal(SIGTERM);
        sim.Wait();
        writer.join();
    }
    std::printf("cpu     zlsim %-34s %5.2f s CPU in %5.2f s = %5.2f %% of one core%s\n",
                flood ? "switched off, flooded with wake-ups"
                : on  ? "switched on, waiting, quiet line"
                      : "switched off, quiet line",
                c1 - c0, wall,
                (c1 - c0) / wall * 100.0,
                flood ? (" (" + std::to_string(written.load()) + " bytes written)").c_str() : "");
    return true;
}

}  // namespace

int main() {
    bool ok = true;
    ok &= PacingIn(115200, 101);
    ok &= PacingOut(115200, 102);
    ok &= PacingIn(57600, 103);
    ok &= PacingOut(57600, 104);
    ok &= Cpu(false, false, 105, 10s);
    ok &= Cpu(false, true, 108, 10s);
    ok &= Cpu(true, false, 106, 10s);
    if (!ok) std::fprintf(stderr, "zl_bench_sim: a measurement failed\n");
    return ok ? 0 : 1;
}
