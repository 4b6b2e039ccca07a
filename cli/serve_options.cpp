#include "cli/serve_options.h"

#include <chrono>

#include "cli/system.h"

namespace zl::cli {

bool PrepareServe(const Options& o, serve::ServeSetup& setup, std::string& error) {
    if (!o.serve) return true;
    if (!serve::HttpServer::Available())
        return error = "--serve is not available in this build of bzl (it has no HTTP server)", false;
    if (!serve::ParseBindAddress(*o.serve, setup.address, error)) return false;
    if (o.serveToken && !serve::ReadToken(*o.serveToken, setup.token, error)) return false;
    if (!setup.address.loopback && setup.token.empty())
        return error = "--serve " + *o.serve + " is not a loopback address (127.0.0.0/8, ::1, localhost): " +
                       "give --serve-token FILE, a bearer token every request must carry",
               false;
    setup.english = o.english;
    return true;
}

std::unique_ptr<serve::HttpServer> StartServe(serve::ServeSetup setup, const serve::StationBoard& board,
                                              std::string& error) {
    setup.board = &board;
    std::unique_ptr<serve::HttpServer> server = serve::HttpServer::Start(setup, error);
    if (!server) return nullptr;
    const std::string host = setup.address.host.find(':') != std::string::npos ? "[" + setup.address.host + "]"
                                                                             : setup.address.host;
    WriteErr("bzl: serving on http://" + host + ":" + std::to_string(server->Port()) + "/ (/metrics, /api/v1/stations, " +
             "/api/v1/records" + (setup.token.empty() ? "" : "; bearer token required") + ")\n");
    return server;
}

bool StopServe(std::unique_ptr<serve::HttpServer>& server) {
    if (!server) return true;
    if (server->Stop(std::chrono::seconds(3))) {
        server.reset();
        return true;
    }
    (void)server.release();
    return false;
}

}  // namespace zl::cli
