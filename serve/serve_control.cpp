#include "serve/serve_control.h"

#include <chrono>

namespace zl::serve {

bool PrepareServe(const std::string& address, const std::optional<std::string>& tokenFile, const std::string& program,
                  ServeSetup& setup, std::string& error) {
    if (!HttpServer::Available())
        return error = "--serve is not available in this build of " + program + " (it has no HTTP server)", false;
    if (!ParseBindAddress(address, setup.address, error)) return false;
    if (tokenFile && !ReadToken(*tokenFile, setup.token, error)) return false;
    if (!setup.address.loopback && setup.token.empty())
        return error = "--serve " + address + " is not a loopback address (127.0.0.0/8, ::1, localhost): " +
                       "give --serve-token FILE, a bearer token every request must carry",
               false;
    return true;
}

std::unique_ptr<HttpServer> StartServe(ServeSetup setup, const StationBoard& board, std::string& announce,
                                       std::string& error) {
    setup.board = &board;
    std::unique_ptr<HttpServer> server = HttpServer::Start(setup, error);
    if (!server) return nullptr;
    const std::string host = setup.address.host.find(':') != std::string::npos ? "[" + setup.address.host + "]"
                                                                             : setup.address.host;
    announce = "serving on http://" + host + ":" + std::to_string(server->Port()) +
               "/ (/metrics, /api/v1/stations, /api/v1/records" +
               (setup.token.empty() ? "" : "; bearer token required") + ")";
    return server;
}

bool StopServe(std::unique_ptr<HttpServer>& server) {
    if (!server) return true;
    if (server->Stop(std::chrono::seconds(3))) {
        server.reset();
        return true;
    }
    (void)server.release();
    return false;
}

}  // namespace zl::serve
