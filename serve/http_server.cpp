// The server on cpp-httplib (Debian's libcpp-httplib-dev).
#include "serve/http_server.h"

#include <future>
#include <thread>

#include <httplib.h>

#include "serve/live_page.h"
#include "serve/metrics_text.h"
#include "serve/record_page.h"
#include "serve/stations_json.h"

namespace zl::serve {
namespace {

using httplib::Request;
using httplib::Response;

void Text(Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

size_t HeaderBytes(const Request& req) {
    size_t n = 0;
    for (const auto& [name, value] : req.headers) n += name.size() + value.size() + 4;
    return n;
}

bool Authorized(const Request& req, const std::string& token) {
    const std::string value = req.get_header_value("Authorization");
    const std::string scheme = "bearer ";
    if (value.size() <= scheme.size()) return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(value[i])) != scheme[i]) return false;
    return SameSecret(value.substr(scheme.size()), token);
}

// limit=N: 1 or more, at most kMaxRecordLimit (more is capped); false for anything else.
bool ParseLimit(const std::string& text, size_t& limit) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const size_t n = std::stoul(text);
    if (n == 0) return false;
    limit = std::min(n, kMaxRecordLimit);
    return true;
}

void Records(const Request& req, Response& res, const std::string& path) {
    std::string after;
    size_t limit = kDefaultRecordLimit;
    if (req.has_param("after")) {
        after = req.get_param_value("after");
        if (!LooksLikeRecordId(after)) return Text(res, 400, "after: give a record ID (8-4-4-4-12 hex digits)");
    }
    if (req.has_param("limit") && !ParseLimit(req.get_param_value("limit"), limit))
        return Text(res, 400, "limit: give a number of records, 1 or more (at most " + std::to_string(kMaxRecordLimit) + " are sent)");
    RecordPage page = ReadRecordPage(path, after, limit);
    if (!page.error.empty()) return Text(res, 500, page.error);
    if (!page.afterFound) return Text(res, 404, "after: no record with the ID " + after + " in the record file");
    res.set_header("ZL-Record-Count", std::to_string(page.count));
    res.set_content(std::move(page.body), "application/x-ndjson");
}

class Server final : public HttpServer {
public:
    explicit Server(const ServeSetup& setup) : setup_(setup), page_(LivePage(setup.english)) {}

    bool Listen(std::string& error) {
        Configure();
        const std::string shown = setup_.address.host.find(':') != std::string::npos ? "[" + setup_.address.host + "]"
                                                                                   : setup_.address.host;
        if (setup_.address.port == 0) {
            port_ = http_.bind_to_any_port(setup_.address.host);
        } else if (http_.bind_to_port(setup_.address.host, setup_.address.port)) {
            port_ = setup_.address.port;
        }
        if (port_ <= 0)
            return error = "--serve " + shown + ":" + std::to_string(setup_.address.port) +
                           ": cannot listen there (the port is taken, or the address is not one of this machine)",
                   false;
        std::promise<void> ended;
        ended_ = ended.get_future();
        listener_ = std::thread([this, done = std::move(ended)]() mutable {
            http_.listen_after_bind();
            done.set_value();
        });
        return true;
    }

    int Port() const override { return port_; }

    bool Stop(std::chrono::milliseconds timeout) override {
        if (!listener_.joinable()) return true;
        // Asked again until the listener has ended: a stop before it began to listen is lost.
        const auto end = std::chrono::steady_clock::now() + timeout;
        do {
            http_.stop();
        } while (ended_.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
                 std::chrono::steady_clock::now() < end);
        if (ended_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            listener_.detach();
            return false;
        }
        listener_.join();
        return true;
    }

    ~Server() override { Stop(std::chrono::seconds(10)); }

private:
    void Configure();
    httplib::Server::HandlerResponse Gate(const Request& req, Response& res) const;

    ServeSetup setup_;
    std::string page_;
    httplib::Server http_;
    int port_ = -1;
    std::thread listener_;
    std::future<void> ended_;
};

// Before any route: the size of the header, the token, the method.
httplib::Server::HandlerResponse Server::Gate(const Request& req, Response& res) const {
    using R = httplib::Server::HandlerResponse;
    if (HeaderBytes(req) > kMaxHeaderBytes)
        return Text(res, 431, "the request's header fields are too large (" + std::to_string(kMaxHeaderBytes) + " bytes at most)"), R::Handled;
    if (!setup_.token.empty() && !Authorized(req, setup_.token)) {
        res.set_header("WWW-Authenticate", "Bearer realm=\"bzl\"");
        return Text(res, 401, "a valid Authorization: Bearer token is required"), R::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
        res.set_header("Allow", "GET, HEAD");
        return Text(res, 405, "read-only: GET only"), R::Handled;
    }
    return R::Unhandled;
}

void Server::Configure() {
    http_.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    http_.set_read_timeout(kReadTimeoutS, 0);
    http_.set_write_timeout(kWriteTimeoutS, 0);
    http_.set_keep_alive_timeout(kKeepAliveS);
    http_.set_keep_alive_max_count(100);
    http_.set_payload_max_length(64 * 1024);
    http_.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});
    http_.set_pre_routing_handler([this](const Request& req, Response& res) { return Gate(req, res); });
    http_.set_error_handler([](const Request&, Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 404) Text(res, 404, "not found: /, /metrics, /api/v1/stations, /api/v1/records");
        else Text(res, res.status, "error " + std::to_string(res.status));
    });
    http_.set_exception_handler([](const Request&, Response& res, std::exception_ptr) { Text(res, 500, "internal error"); });
    const StationBoard* board = setup_.board;
    http_.Get("/metrics", [board](const Request&, Response& res) {
        res.set_content(MetricsText(board->Snapshot()), kMetricsContentType);
    });
    http_.Get("/api/v1/stations", [board](const Request&, Response& res) {
        res.set_content(StationsJson(board->Snapshot()), "application/json");
    });
    http_.Get("/api/v1/records", [this](const Request& req, Response& res) { Records(req, res, setup_.recordsPath); });
    http_.Get("/", [this](const Request&, Response& res) {
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; connect-src 'self'; "
                       "base-uri 'none'; form-action 'none'; frame-ancestors 'none'");
        res.set_content(page_, "text/html; charset=utf-8");
    });
}

}  // namespace

bool HttpServer::Available() { return true; }

std::unique_ptr<HttpServer> HttpServer::Start(const ServeSetup& setup, std::string& error) {
    auto server = std::make_unique<Server>(setup);
    if (!server->Listen(error)) return nullptr;
    return server;
}

}  // namespace zl::serve
