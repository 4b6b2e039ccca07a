#include <httplib.h>

#include "collect/source.h"
#include "report/record_stream.h"

namespace zl::collect {
namespace {

constexpr int kPageLimit = 1000;

class HttpSource : public Source {
public:
    HttpSource(std::string url, const std::string& hostPort, std::string prefix, const std::string& token)
        : url_(std::move(url)), prefix_(std::move(prefix)), client_(hostPort) {
        // Every wait is bounded: a station that stops answering is a source that is down.
        client_.set_connection_timeout(5);
        client_.set_read_timeout(15);
        client_.set_write_timeout(5);
        if (!token.empty()) client_.set_bearer_token_auth(token);
    }
    const std::string& Name() const override { return url_; }
    bool Fetch(const SourcePosition& from, Page& page, std::string& error) override;

private:
    std::string url_, prefix_;
    httplib::Client client_;
    JsonDocument doc_;
};

bool HttpSource::Fetch(const SourcePosition& from, Page& page, std::string& error) {
    page = Page{};
    page.next = from;
    std::string target = prefix_ + "/api/v1/records?limit=" + std::to_string(kPageLimit);
    if (!from.lastId.empty()) target += "&after=" + httplib::detail::encode_query_param(from.lastId);
    const httplib::Result res = client_.Get(target.c_str());
    if (!res) {
        const httplib::Error e = res.error();
        error = e == httplib::Error::Connection ? "cannot connect"
                : e == httplib::Error::Read     ? "no answer in time, or the connection broke"
                                                : "the request failed (" + httplib::to_string(e) + ")";
        return false;
    }
    if (res->status == 401 || res->status == 403)
        return error = "HTTP " + std::to_string(res->status) + ": the token was refused (--token-file)", false;
    if (res->status != 200) return error = "HTTP " + std::to_string(res->status), false;
    const std::string& body = res->body;
    size_t lines = 0;
    std::string line;
    RecordRow row;
    for (size_t at = 0; at < body.size();) {
        size_t nl = body.find('\n', at);
        if (nl == std::string::npos) nl = body.size();
        line.assign(body, at, nl - at);
        at = nl + 1;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        ++lines;
        if (line.size() > report::RecordStream::kMaxLine || !ReadRow(line, doc_, row)) {
            ++page.skipped;
            continue;
        }
        // The server knows records by the id they carry; a derived one means nothing to it.
        std::string id;
        if (doc_.Root()["id"].GetString(id) && IsUuid(id)) page.next.lastId = id;
        page.rows.push_back(std::move(row));
    }
    // A server may give fewer than asked for: read on until a page brings nothing new.
    page.more = lines > 0 && page.next.lastId != from.lastId;
    return true;
}

}  // namespace

bool SplitUrl(const std::string& url, std::string& hostPort, std::string& prefix, std::string& error) {
    const bool tls = url.rfind("https://", 0) == 0;
    const std::string scheme = tls ? "https://" : "http://";
    if (!tls && url.rfind(scheme, 0) != 0)
        return error = "--from " + url + ": give an http:// or https:// URL like http://line-pc-3:8080", false;
    const size_t slash = url.find('/', scheme.size());
    hostPort = url.substr(0, slash);
    if (hostPort.size() == scheme.size()) return error = "--from " + url + ": the URL names no host", false;
    prefix = slash == std::string::npos ? "" : url.substr(slash);
    if (prefix.find_first_of("?#") != std::string::npos) return error = "--from " + url + ": give the station's address without a query", false;
    while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
    return true;
}

std::unique_ptr<Source> MakeHttpSource(const std::string& url, const std::string& token) {
    std::string hostPort, prefix, error;
    SplitUrl(url, hostPort, prefix, error);
    return std::make_unique<HttpSource>(url, hostPort, prefix, token);
}

}  // namespace zl::collect
