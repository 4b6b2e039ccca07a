// The block phase of a PIC32 load, from zlsim's line log: from the first byte after the
// device's "Load gestartet" to the last byte of the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/zlsim_client.h"

namespace zl::bench {

// Seconds; -1 when the log holds no complete block phase after the load command at cmdUs.
inline double BlockPhaseSeconds(const std::vector<test::ZlSim::Entry>& log, int64_t cmdUs, size_t length) {
    bool started = false;
    int64_t first = -1;
    size_t got = 0;
    for (const auto& e : log) {
        if (e.t_us < cmdUs) continue;
        if (!started) {
            started = e.dir == "tx" && e.bytes.find("Load gestartet") != std::string::npos;
            continue;
        }
        if (e.dir != "rx") continue;
        if (first < 0) first = e.t_us;
        got += e.bytes.size();
        if (got >= length) return (e.t_us - first) / 1e6;
    }
    return -1;
}

}  // namespace zl::bench
