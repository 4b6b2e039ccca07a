// A station's records endpoint for the collector's tests: serves a records file as
// GET /api/v1/records?after=ID&limit=N (NDJSON, the records after ID, oldest first, at most N),
// read anew for every request so that a test can append to it; at most 200 records a page. With a token file, a request
// without "Authorization: Bearer <token>" gets 401.
//   zl_records_server FILE PORT [TOKEN-FILE]
#include <httplib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

httplib::Server* g_server = nullptr;

std::string IdOf(const std::string& line) {
    const size_t at = line.find("\"id\":\"");
    return at == std::string::npos ? "" : line.substr(at + 6, 36);
}

std::string Page(const std::string& file, const std::string& after, size_t limit) {
    std::ifstream in(file, std::ios::binary);
    std::string line, body;
    size_t n = 0;
    // UUIDv7 ids sort by time: the records after `after` are those with a greater id.
    while (n < limit && std::getline(in, line)) {
        if (line.empty() || in.eof()) continue;  // a line still being written waits
        const std::string id = IdOf(line);
        if (id.empty() || (!after.empty() && id <= after)) continue;
        body += line + "\n";
        ++n;
    }
    return body;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return std::fprintf(stderr, "usage: zl_records_server FILE PORT [TOKEN-FILE]\n"), 1;
    const std::string file = argv[1];
    std::string token;
    if (argc > 3) {
        std::ifstream t(argv[3]);
        std::getline(t, token);
    }
    httplib::Server server;
    g_server = &server;
    std::signal(SIGTERM, [](int) { g_server->stop(); });
    server.Get("/api/v1/records", [&](const httplib::Request& req, httplib::Response& res) {
        if (!token.empty() && req.get_header_value("Authorization") != "Bearer " + token) {
            res.status = 401;
            return;
        }
        // At most 200 a page, whatever is asked: the collector must read on.
        const size_t asked = req.has_param("limit") ? std::stoul(req.get_param_value("limit")) : 1000;
        const size_t limit = std::min<size_t>(asked, 200);
        res.set_content(Page(file, req.get_param_value("after"), limit), "application/x-ndjson");
    });
    if (!server.listen("127.0.0.1", std::stoi(argv[2]))) return std::fprintf(stderr, "cannot listen\n"), 1;
    return 0;
}
