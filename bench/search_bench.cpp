// The program's own CPU while it searches for a switched-off zlsim (the wake-up flood and
// the search cycles), and while it is connected to an idle device (the information cycles).
// Both kinds (PIC32 at 115200 baud, HCS at 57600). The dialog logic runs with the
// scripted face; zlsim is paced at the line rate and runs at a raised priority.
#include <sys/resource.h>

#include <cstdio>
#include <string>
#include <memory>
#include <thread>

#include "bench/bench_util.h"
#include "platform/win32.h"
#include "res/resources.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/temp_env.h"
#include "tests/support/zlsim_client.h"

using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

void RaisePriority(const zl::test::ZlSim& sim) {
    if (sim.Pid() > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(sim.Pid()), -5);
}

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

// One kind: CPU while searching, then five switch-ons to the answer flag. An HCS device
// stays connected when switched off, so its connection is ended with Disconnect.
int Run(const char* kind, int deviceSel, int com, seconds span) {
    zl::test::TempEnv env;
    zl::test::ZlSim sim(kind, com, env.dir() + "/line.jsonl", {"--flash", env.dir() + "/flash.bin"});
    if (!sim.Ready()) return std::fprintf(stderr, "zlsim did not start\n"), 1;
    // zlsim at a raised priority, so that a simulator falling behind is not taken for a
    // gap in the program's flood (a failure to raise it is left alone).
    RaisePriority(sim);
    zl::test::DialogHarness ui(env, "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(com) + "\nPrevDevice=" +
                                        std::to_string(deviceSel) + "\n");
    ui.Start();
    const std::u16string searching = u"Suche nach Ger\u00e4t", connected = u"Ger\u00e4t angeschlossen und bereit";
    if (!ui.WaitForText(zl::IDC_STATUS, searching, 20s)) return std::fprintf(stderr, "no search\n"), 1;
    std::this_thread::sleep_for(1s);
    Measure((std::string(kind) + ": searching, device switched off").c_str(), span, sim);
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
        std::printf("answer  %-5s switch-on %d to m_bBootAnswered %6.1f ms (zlsim: power on to its answer %6.1f ms)\n",
                    kind, i, s * 1000.0, (answered - powered) / 1000.0);
        if (!ui.WaitForText(zl::IDC_STATUS, connected, 20s)) return 1;
        if (i == 5) break;
        if (sim.Command("power off") != "ok power off") return 1;
        if (deviceSel != 0) ui.OnUi([&] { ui.dlg->OnCommand(zl::IDC_DISCONNECT, zl::BN_CLICKED); });
        if (!ui.WaitForText(zl::IDC_STATUS, searching, 20s)) return 1;
        std::this_thread::sleep_for(milliseconds(300 + 170 * i));  // switched on at another point of the cycle
    }
    if (!ui.WaitForText(zl::IDC_STATUS, connected, 20s)) return std::fprintf(stderr, "not connected\n"), 1;
    std::this_thread::sleep_for(2s);
    Measure((std::string(kind) + ": connected, device idle").c_str(), span, sim);
    ui.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const seconds span(argc > 1 ? std::atoi(argv[1]) : 30);
    return Run("pic32", 0, 107, span) | Run("hcs", 1, 109, span);
}
