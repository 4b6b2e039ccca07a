// --serve ADDR:PORT [--serve-token FILE] of any program: the checks before anything is
// touched, the start with the address to tell, and the bounded stop.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "serve/http_server.h"
#include "serve/station_board.h"

namespace zl::serve {

// The server's address and token; false with the usage error: a bad address, an
// unreadable or unfit token, an address other than loopback without a token, or a
// build without the server (program names it in that message).
bool PrepareServe(const std::string& address, const std::optional<std::string>& tokenFile, const std::string& program,
                  ServeSetup& setup, std::string& error);

// Starts listening (setup.board set); nothing and the message when it cannot. announce
// is the line to tell: "serving on http://HOST:PORT/ (...)".
std::unique_ptr<HttpServer> StartServe(ServeSetup setup, const StationBoard& board, std::string& announce,
                                       std::string& error);

// Ends the server within a few seconds; false when a client still holds a worker (the
// server is then left running, released, and the process must end without destructors).
bool StopServe(std::unique_ptr<HttpServer>& server);

}  // namespace zl::serve
