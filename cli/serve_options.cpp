#include "cli/serve_options.h"

#include "cli/system.h"
#include "serve/serve_control.h"

namespace zl::cli {

bool PrepareServe(const Options& o, serve::ServeSetup& setup, std::string& error) {
    if (!o.serve) return true;
    if (!serve::PrepareServe(*o.serve, o.serveToken, "bzl", setup, error)) return false;
    setup.english = o.english;
    return true;
}

std::unique_ptr<serve::HttpServer> StartServe(serve::ServeSetup setup, const serve::StationBoard& board,
                                              std::string& error) {
    std::string announce;
    std::unique_ptr<serve::HttpServer> server = serve::StartServe(std::move(setup), board, announce, error);
    if (server) WriteErr("bzl: " + announce + "\n");
    return server;
}

bool StopServe(std::unique_ptr<serve::HttpServer>& server) { return serve::StopServe(server); }

}  // namespace zl::cli
