// A build without the HTTP library (the static Windows bzl.exe): --serve is refused.
#include "serve/http_server.h"

namespace zl::serve {

bool HttpServer::Available() { return false; }

std::unique_ptr<HttpServer> HttpServer::Start(const ServeSetup&, std::string& error) {
    error = "--serve is not available in this build of bzl (it has no HTTP server)";
    return nullptr;
}

}  // namespace zl::serve
