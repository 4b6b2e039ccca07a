// The board as Prometheus text exposition (format 0.0.4).
#pragma once

#include <string>

#include "serve/station_board.h"

namespace zl::serve {

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string MetricsText(const BoardSnapshot& s);

// A label value as the format wants it: backslash, double quote and line feed escaped.
std::string EscapeLabel(const std::string& value);

}  // namespace zl::serve
