// The search against zlsim: the wake-up flood, the PIC32 answer with the closing
// burst and the pause after it, and the HCS answer without a burst.
#include <algorithm>

#include "platform/win32.h"
#include "tests/e2e/e2e_fixture.h"

namespace zl::test {
namespace {

using namespace std::chrono;

const std::string kWake = "BoOt\r";
const std::string kMenu = "\rSmenu\r";

// The received bytes logged at or after fromUs, with the log time of each byte's piece.
struct Received {
    Received(const std::vector<ZlSim::Entry>& log, int64_t fromUs) {
        for (const auto& e : log) {
            if (e.dir != "rx" || e.t_us < fromUs) continue;
            starts.push_back(bytes.size());
            times.push_back(e.t_us);
            bytes += e.bytes;
        }
    }
    int64_t TimeAt(size_t offset) const {
        const auto it = std::upper_bound(starts.begin(), starts.end(), offset);
        return times[static_cast<size_t>(it - starts.begin()) - 1];
    }
    std::string bytes;
    std::vector<size_t> starts;
    std::vector<int64_t> times;
};

// Time of the first piece zlsim sent at or after fromUs that holds c, or -1.
int64_t FirstSent(const std::vector<ZlSim::Entry>& log, char c, int64_t fromUs) {
    for (const auto& e : log)
        if (e.dir == "tx" && e.t_us >= fromUs && e.bytes.find(c) != std::string::npos) return e.t_us;
    return -1;
}

bool OnlyWakeUps(const std::string& bytes) {
    if (bytes.size() % kWake.size() != 0) return false;
    for (size_t p = 0; p < bytes.size(); p += kWake.size())
        if (bytes.compare(p, kWake.size(), kWake) != 0) return false;
    return true;
}

class SearchScenario : public Scenario {};

TEST_F(SearchScenario, Pic32AnswerIsFollowedByTheClosingBurstAndAPause) {
    Launch("pic32", 0);
    ASSERT_TRUE(ui->WaitForText(IDC_STATUS, u"Suche nach Ger\u00e4t"));
    ASSERT_TRUE(ui->WaitForText(IDC_THREADS, u"b2 i0"));
    Power(true);
    ASSERT_TRUE(sim->WaitFor([](const ZlSim& s) { return ZlSim::Count(s.Received(), kMenu) >= 1; }, seconds(20)));
    const auto log = sim->Log();
    const int64_t answered = sim->EventTime("answered");
    ASSERT_GE(answered, 0);
    const int64_t answer = FirstSent(log, 'l', answered);
    ASSERT_GE(answer, 0);

    const Received rx(log, answered);
    const size_t menu = rx.bytes.find(kMenu);
    ASSERT_NE(menu, std::string::npos);
    ASSERT_GT(menu, 0u);
    const std::string between = rx.bytes.substr(0, menu);
    ASSERT_TRUE(OnlyWakeUps(between)) << between.size() << " bytes between the answer and the first request";
    // The flood goes on until the search thread has seen the 'l'; that thread then
    // reads on until the line has been quiet for its read time-out, and only then
    // sends its burst. So a quiet spell on the line is followed by exactly 500
    // wake-up strings (the burst may be split further when a thread is held up).
    std::vector<size_t> after;  // wake-up strings after each quiet spell of 5 ms or more
    int64_t previous = answer;
    for (size_t i = 0; i < rx.starts.size() && rx.starts[i] < menu; ++i) {
        if (rx.times[i] - previous >= 5000) after.push_back((menu - rx.starts[i]) / kWake.size());
        previous = rx.times[i];
    }
    EXPECT_NE(std::find(after.begin(), after.end(), 500u), after.end())
        << "wake-up strings after each quiet spell: " << testing::PrintToString(after);
    // Then the line stays quiet: at least the 300 ms pause passes before the request.
    EXPECT_GE(rx.TimeAt(menu) - rx.TimeAt(menu - 1), 300000);
}

}  // namespace
}  // namespace zl::test
