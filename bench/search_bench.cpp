// The program's own CPU while it searches for a switched-off zlsim (the wake-up flood and
// the search cycles), and while it is connected to an idle device (the information cycles).
// The dialog logic runs with the scripted face; zlsim is paced at 115200 baud.
#include <cstdio>
#include <memory>
#include <thread>

#include "bench/bench_util.h"
#include "res/resources.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

void Measure(const char* what, seconds span, const zl::test::ZlSim& sim) {
    const size_t rx0 = sim.Received().size();
    const double c0 = zl::bench::OwnCpuSeconds();
    const auto t0 = steady_clock::now();
    std::this_thread::sleep_for(span);
    const double c1 = zl::bench::OwnCpuSeconds();
    const double wall = zl::bench::Seconds(steady_clock::now() - t0);
    const size_t rx = sim.Received().size() - rx0;
    std::printf("cpu     program %-33s %5.2f s CPU in %5.2f s = %5.2f %% of one core (%zu bytes to the device, %.0f B/s)\n",
                what, c1 - c0, wall, (c1 - c0) / wall * 100.0, rx, rx / wall);
}

}  // namespace

int main(int argc, char** argv) {
    const seconds span(argc > 1 ? std::atoi(argv[1]) : 30);
    constexpr int kCom = 107;
    zl::test::TempEnv env;
    zl::test::ZlSim sim("pic32", kCom, env.dir() + "/line.jsonl", {"--flash", env.dir() + "/flash.bin"});
    if (!sim.Ready()) return std::fprintf(stderr, "zlsim did not start\n"), 1;
    zl::test::DialogHarness ui(env, "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(kCom) + "\nPrevDevice=0\n");
    ui.Start();
    if (!ui.WaitForText(zl::IDC_STATUS, u"Suche nach Ger\u00e4t", 20s)) return std::fprintf(stderr, "no search\n"), 1;
    std::this_thread::sleep_for(1s);
    Measure("searching, device switched off", span, sim);
    // Switch-on to the answer flag: polled every 100 us; the tick takes the flag within
    // 50 ms, so a poll cannot miss it.
    for (int i = 1; i <= 5; ++i) {
        const auto on = steady_clock::now();
        if (sim.Command("power on") != "ok power on") return 1;
        while (ui.dlg->m_bBootAnswered != 1 && steady_clock::now() - on < 20s) std::this_thread::sleep_for(100us);
        const double s = zl::bench::Seconds(steady_clock::now() - on);
        int64_t powered = -1, answered = -1;  // the last switch-on and the answer after it
        for (const auto& e : sim.Log()) {
            if (e.event == "power_on") powered = e.t_us, answered = -1;
            if (e.event == "answered" && answered < 0) answered = e.t_us;
        }
        std::printf("answer  switch-on %d to m_bBootAnswered %6.1f ms (zlsim: power on to its answer %6.1f ms)\n", i,
                    s * 1000.0, (answered - powered) / 1000.0);
        if (!ui.WaitForText(zl::IDC_STATUS, u"Ger\u00e4t angeschlossen und bereit", 20s)) return 1;
        if (i == 5) break;
        if (sim.Command("power off") != "ok power off") return 1;
        if (!ui.WaitForText(zl::IDC_STATUS, u"Suche nach Ger\u00e4t", 20s)) return 1;
        std::this_thread::sleep_for(milliseconds(300 + 170 * i));  // switched on at another point of the cycle
    }
    if (!ui.WaitForText(zl::IDC_STATUS, u"Ger\u00e4t angeschlossen und bereit", 20s))
        return std::fprintf(stderr, "not connected\n"), 1;
    std::this_thread::sleep_for(2s);
    Measure("connected, device idle", span, sim);
    ui.Stop();
    return 0;
}
