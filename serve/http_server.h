// The read-only HTTP server of one bzl run: /metrics, /api/v1/stations, /api/v1/records
// and the live page. It runs on threads of its own (a listener and a fixed pool) and reads
// the board's snapshots only; the stations never wait on it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "serve/bind_address.h"
#include "serve/station_board.h"

namespace zl::serve {

struct ServeSetup {
    BindAddress address;
    std::string token;        // empty: no Authorization asked for (loopback only)
    bool english = false;     // the live page's language
    std::string recordsPath;  // the record file served by /api/v1/records
    const StationBoard* board = nullptr;
};

// Limits of every connection.
inline constexpr size_t kWorkerThreads = 8;        // connections served at once; others wait to be accepted
inline constexpr size_t kMaxHeaderBytes = 8192;    // all header fields of a request (431 beyond)
inline constexpr int kReadTimeoutS = 5, kWriteTimeoutS = 5, kKeepAliveS = 2;

class HttpServer {
public:
    virtual ~HttpServer() = default;
    // Listens on setup.address; nothing and a message when it cannot (or when this build
    // has no server).
    static std::unique_ptr<HttpServer> Start(const ServeSetup& setup, std::string& error);
    // Whether this build has the server (the static Windows bzl.exe has none).
    static bool Available();
    // The port listened on (the one chosen for port 0).
    virtual int Port() const = 0;
    // Stops listening and ends the workers within timeout; false when a worker is still
    // busy with a client: the server must then be left alone (released, not destroyed).
    virtual bool Stop(std::chrono::milliseconds timeout) = 0;
};

}  // namespace zl::serve
