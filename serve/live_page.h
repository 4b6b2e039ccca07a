// The live page of / : a tile per station and the run's totals, refreshed every second
// from /api/v1/stations. One HTML text with its style and script; nothing from elsewhere.
#pragma once

#include <string>

namespace zl::serve {

std::string LivePage(bool english);

}  // namespace zl::serve
