// The board as the JSON of /api/v1/stations.
#pragma once

#include <string>

#include "serve/station_board.h"

namespace zl::serve {

// {"program", "version", "stations": [{"station", "port", "state", "status", "progress",
//  "counters": {"good", "failed"}, "last_verdict", "line_efficiency"}], "totals": {...}}
std::string StationsJson(const BoardSnapshot& s);

}  // namespace zl::serve
