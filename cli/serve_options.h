// bzl load --serve ADDR:PORT [--serve-token FILE]: the checks before anything is touched,
// and the server of the run.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "cli/args.h"
#include "serve/http_server.h"
#include "serve/station_board.h"

namespace zl::cli {

// The server's setup from the options; false with the usage error (exit 1): a bad address,
// an unreadable or unfit token, an address other than loopback without a token.
bool PrepareServe(const Options& o, serve::ServeSetup& setup, std::string& error);

// Starts listening (setup.board set); tells the address on standard error. Nothing and
// the message when it cannot.
std::unique_ptr<serve::HttpServer> StartServe(serve::ServeSetup setup, const serve::StationBoard& board,
                                              std::string& error);

// Ends the server; false when a client still holds a worker (the server is then left
// running and the process must end without destructors).
bool StopServe(std::unique_ptr<serve::HttpServer>& server);

}  // namespace zl::cli
