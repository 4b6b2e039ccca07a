// bzl report over one million records: writes a record file of schema-2 loads (eight
// stations, one slow; a tenth of the units retested; a few failures), then times
//   the reading alone: the file streamed into the tally and the station table in this
//     process, as bzl report does it;
//   bzl report as a user runs it (--json, by station and by unit ID), with the resident
//     memory of its process.
// usage: zl_bench_report [RECORDS]   (default 1000000)
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "bench/bench_util.h"
#include "records/record_line.h"
#include "report/group_tally.h"
#include "report/record_stream.h"
#include "report/yield_tally.h"
#include "tests/support/temp_env.h"

using namespace std::chrono;

namespace {

constexpr const char* kSha = "6716dba1c0ffee00112233445566778899aabbccddeeff00112233445566778a";

std::string Line(long i, long records) {
    const long unit = i < records / 10 ? i : i - records / 10;  // the first tenth comes back
    const int station = static_cast<int>(i % 8);
    const bool failed = i % 97 == 0;
    const int64_t ms = 1796000000000LL + i * 450LL;  // 8 stations, one load per 3.6 s each
    char buf[2048];
    std::snprintf(buf, sizeof buf,
        "{\"schema\":2,\"id\":\"0193a5c2-7b4e-7c3d-9a1b-%012lx\",\"time\":\"%s\",\"host\":\"line-pc-%d\","
        "\"program\":\"bzl\",\"version\":\"1.23\",\"port\":\"COM%d\",\"station\":\"COM%d\",\"device_path\":\"/dev/ttyUSB%d\","
        "\"device_kind\":\"pic32\",\"device\":\"Corvel 6\",\"operation\":\"load\",\"unit_id\":\"SN-%07ld\","
        "\"job\":{\"name\":\"Corvel 6 - Basis 3.5.0\",\"sha256\":\"%s\"},"
        "\"identity\":{\"manufacturer\":\"Hallwyn\",\"hardware\":\"ZL-6 Rev B\","
        "\"firmware_before\":{\"name\":\"Corvel-Basis\",\"version\":\"3.4.1\",\"date\":\"01.10.2026\"},"
        "\"firmware_after\":{\"name\":\"Corvel-Basis\",\"version\":\"3.5.0\",\"date\":\"07.12.2026\"},"
        "\"panels\":{\"firmware_before\":\"aktuelle Firmware:\\r\\nName   : Corvel-Basis\\r\\nVersion: 3.4.1\\r\\nDatum  : 01.10.2026\","
        "\"firmware_after\":\"aktuelle Firmware:\\r\\nName   : Corvel-Basis\\r\\nVersion: 3.5.0\\r\\nDatum  : 07.12.2026\"}},"
        "\"file\":{\"path\":\"fw/corvel.spic32\",\"size\":65536,\"sha256\":\"%s\"},"
        "\"bytes\":65536,\"units\":32,\"unit\":\"dots\",\"duration_s\":%.3f,\"bytes_per_s\":6294.1,"
        "\"line_bytes_per_s\":11520,\"line_efficiency\":%.4f,\"phases\":{\"send\":6.105,\"program\":4.220},"
        "\"result\":%s}\n",
        i, zl::FormatUtc(ms).c_str(), station / 4, station + 5, station + 5, station, unit, kSha, kSha,
        10.0 + (i % 13) * 0.1, station == 7 ? 0.45 : 0.55 + (i % 5) * 0.001,
        failed ? "{\"outcome\":\"transfer-failed\",\"failure\":\"timeout\",\"detail\":\"no-report\",\"box\":\"Keine Antwort\"}"
               : "{\"outcome\":\"ok\",\"box\":\"\"}");
    return buf;
}

rusage Children() {
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru;
}

double CpuSeconds(const rusage& ru) {
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return s(ru.ru_utime) + s(ru.ru_stime);
}

void TimeBzl(const std::string& file, const std::string& by, const std::string& dir) {
    const std::string command = std::string(BZL_PATH) + " report --log " + file + " --json --by " + by + " > " + dir + "/out.json";
    const double cpu0 = CpuSeconds(Children());
    const auto t0 = steady_clock::now();
    const int rc = std::system(command.c_str());
    const double s = zl::bench::Seconds(steady_clock::now() - t0);
    const rusage after = Children();
    std::printf("bzl report --by %-8s  %.2f s (CPU %.2f s), exit %d, peak resident memory of the children so far %ld MiB\n",
                by.c_str(), s, CpuSeconds(after) - cpu0, WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, after.ru_maxrss / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
    zl::test::TempEnv env;
    const std::string file = env.dir() + "/records.ndjson";
    {
        std::ofstream out(file, std::ios::binary);
        for (long i = 0; i < records; ++i) out << Line(i, records);
    }
    std::ifstream probe(file, std::ios::binary | std::ios::ate);
    const double mib = static_cast<double>(probe.tellg()) / 1048576.0;
    std::printf("%ld records, %.0f MiB (%.0f bytes a line)\n", records, mib, mib * 1048576.0 / static_cast<double>(records));

    const double cpu0 = zl::bench::OwnCpuSeconds();
    const auto t0 = steady_clock::now();
    zl::report::YieldTally tally;
    zl::report::GroupTally groups(zl::report::GroupBy::Station);
    zl::report::RecordStream stream({}, [&](const zl::report::RecordSummary& r) {
        tally.Add(r);
        groups.Add(r);
    });
    std::ifstream in(file, std::ios::binary);
    std::unique_ptr<char[]> buf(new char[1 << 20]);
    while (in) {
        in.read(buf.get(), 1 << 20);
        stream.Feed(buf.get(), static_cast<size_t>(in.gcount()));
    }
    stream.EndOfFile();
    const zl::report::YieldFigures f = tally.Figures();
    const auto rows = groups.Rows();
    const double s = zl::bench::Seconds(steady_clock::now() - t0);
    const double cpu = zl::bench::OwnCpuSeconds() - cpu0;
    std::printf("read in this process: %.2f s, CPU %.2f s (%.0f records/s, %.0f MiB/s): %llu loads, %llu good, %llu units, "
                "%llu retested, %zu stations, %llu skipped\n",
                s, cpu, static_cast<double>(records) / s, mib / s, static_cast<unsigned long long>(f.attempts),
                static_cast<unsigned long long>(f.good), static_cast<unsigned long long>(f.units),
                static_cast<unsigned long long>(f.retestedUnits), rows.size(),
                static_cast<unsigned long long>(stream.Skipped()));
    TimeBzl(file, "station", env.dir());
    TimeBzl(file, "unit_id", env.dir());
    return 0;
}
