// Auto-Load against zlsim, in two parts.
//   Speed: one load each of a 128 KiB and a 1 MiB image, zlsim paced at 115200 baud.
//     Printed: the time from the first block byte to the last against the line time of
//     the image (L x 10 / 115200 s), and the whole load (from the load command to the
//     programming command) against that line time.
//   Soak: 20 power cycles of one device with Auto-Load on (zlsim unpaced), each image
//     compared with zlsim's flash; the program's resident memory and thread count after
//     the first cycle and after the last.
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "bench/bench_util.h"
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

// A field of /proc/self/status ("VmRSS", "Threads") as a number.
long Status(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

size_t Count(const ZlSim& sim, const std::string& event) {
    size_t n = 0;
    for (const auto& e : sim.Log())
        if (e.event == event) ++n;
    return n;
}

struct Session {
    explicit Session(std::vector<std::string> simArgs) {
        flash = env.dir() + "/flash.bin";
        simArgs.insert(simArgs.end(), {"--flash", flash});
        sim = std::make_unique<ZlSim>("pic32", kCom, env.dir() + "/line.jsonl", simArgs);
        ui = std::make_unique<zl::test::DialogHarness>(env, "PrevCOM=\\\\\\\\.\\\\COM" + std::to_string(kCom) + "\nPrevDevice=0\n");
        ui->Start();
    }
    bool AutoLoad(const std::string& path) {
        ui->platform.QueueFileAnswer(zl::FromUtf8(path));
        return ui->Click(zl::IDC_AUTOLOAD_ON) && ui->dlg->m_strAutoLoadPath.Get() == zl::FromUtf8(path);
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
    if (image.empty() || !s.AutoLoad(image) || !s.Searching()) return std::fprintf(stderr, "set-up failed\n"), 1;
    if (s.sim->Command("power on") != "ok power on") return 1;
    const seconds limit(30 + static_cast<long>(length * 10 / 115200) * 2);
    if (!s.sim->WaitFor([](const ZlSim& z) { return z.EventTime("prog") >= 0; }, limit))
        return std::fprintf(stderr, "no load of %zu bytes\n", length), 1;
    // From the line log: the load command, the answer, then the blocks as they came in.
    const auto log = s.sim->Log();
    const int64_t cmd = s.sim->EventTime("cmd", "load"), prog = s.sim->EventTime("prog");
    int64_t answer = -1, first = -1, last = -1;
    size_t got = 0;
    for (const auto& e : log) {
        if (e.t_us < cmd) continue;
        if (answer < 0) {
            if (e.dir == "tx" && e.bytes.find("Load gestartet") != std::string::npos) answer = e.t_us;
            continue;
        }
        if (e.dir != "rx") continue;
        if (first < 0) first = e.t_us;
        got += e.bytes.size();
        if (got >= length) {
            last = e.t_us;
            break;
        }
    }
    const double line = static_cast<double>(length) * 10.0 / 115200.0;
    const double blocks = (last - first) / 1e6, whole = (prog - cmd) / 1e6;
    std::printf("load    %7zu bytes: blocks %7.3f s, line time %7.3f s (%+.2f %%); load command to prog %7.3f s "
                "(line time + %.3f s); flash %s\n",
                length, blocks, line, (blocks - line) / line * 100.0, whole, whole - line,
                ReadAll(s.flash) == ReadAll(image) ? "equal to the image" : "DIFFERENT");
    s.ui->Stop();
    return 0;
}

int Soak(int cycles) {
    Session s({"--no-pacing"});
    const std::string image = s.Image(64 * 1024);
    if (image.empty() || !s.AutoLoad(image) || !s.Searching()) return std::fprintf(stderr, "set-up failed\n"), 1;
    const std::string wanted = ReadAll(image);
    long rss1 = 0, threads1 = 0;
    int good = 0;
    const auto t0 = steady_clock::now();
    for (int i = 1; i <= cycles; ++i) {
        if (s.sim->Command("power on") != "ok power on") return 1;
        const bool loaded = s.sim->WaitFor([&](const ZlSim& z) { return Count(z, "prog") >= static_cast<size_t>(i); }, 60s);
        const bool shown = s.ui->WaitFor([&] { return s.ui->Text(zl::IDC_FW_LEFT).find(u"Bench") != std::u16string::npos; }, 30s);
        if (loaded && shown && ReadAll(s.flash) == wanted) ++good;
        else std::printf("soak    cycle %d: %s\n", i, !loaded ? "no load" : !shown ? "panel not updated" : "flash differs");
        if (s.sim->Command("power off") != "ok power off" || !s.Searching()) return std::fprintf(stderr, "not searching again\n"), 1;
        std::this_thread::sleep_for(1s);
        if (i == 1) rss1 = Status("VmRSS"), threads1 = Status("Threads");
    }
    std::printf("soak    %d of %d power cycles loaded and verified in %.1f s; after cycle 1: %ld kB resident, %ld threads; "
                "after cycle %d: %ld kB resident, %ld threads (this process holds the dialog and its threads)\n",
                good, cycles, zl::bench::Seconds(steady_clock::now() - t0), rss1, threads1, cycles, Status("VmRSS"),
                Status("Threads"));
    s.ui->Stop();
    return good == cycles ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // figures show up as they come
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 20;
    int rc = 0;
    rc |= Speed(128 * 1024);
    rc |= Speed(1024 * 1024);
    rc |= Soak(cycles);
    return rc;
}
