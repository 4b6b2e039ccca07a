#include "serve/bind_address.h"

#include <cctype>
#include <fstream>

#include "records/sha256.h"

namespace zl::serve {
namespace {

bool Digits(const std::string& s, long max, long& value) {
    if (s.empty() || s.size() > 5) return false;
    value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    return value <= max;
}

bool Ipv4Loopback(const std::string& host) {
    long octets[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = host.find('.', start);
        if ((i < 3) != (dot != std::string::npos)) return false;
        if (!Digits(host.substr(start, dot == std::string::npos ? std::string::npos : dot - start), 255, octets[i]))
            return false;
        start = dot + 1;
    }
    return octets[0] == 127;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool TokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~' || c == '+' ||
           c == '/' || c == '=';
}

std::string Digest(const std::string& s) {
    Sha256 h;
    h.Update(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    return h.HexDigest();
}

}  // namespace

bool ParseBindAddress(const std::string& text, BindAddress& out, std::string& error) {
    const std::string usage = "--serve \"" + text + "\": give ADDRESS:PORT (127.0.0.1:9464, [::1]:9464, localhost:9464)";
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return error = usage, false;
    std::string host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return error = usage, false;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        return error = usage + "; an IPv6 address goes in brackets", false;
    }
    long port = 0;
    if (!Digits(text.substr(colon + 1), 65535, port)) return error = "--serve \"" + text + "\": the port is 0 to 65535", false;
    out.host = host;
    out.port = static_cast<int>(port);
    out.loopback = Ipv4Loopback(host) || host == "::1" || Lower(host) == "localhost";
    return true;
}

bool ReadToken(const std::string& path, std::string& token, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = "--serve-token " + path + ": cannot be read", false;
    std::string line;
    std::getline(in, line);
    const size_t begin = line.find_first_not_of(" \t\r");
    const size_t end = line.find_last_not_of(" \t\r");
    token = begin == std::string::npos ? std::string() : line.substr(begin, end - begin + 1);
    if (token.size() < 16 || token.size() > 4096)
        return error = "--serve-token " + path + ": the first line must hold the token, 16 to 4096 characters", false;
    for (char c : token)
        if (!TokenChar(c))
            return error = "--serve-token " + path + ": the token may hold letters, digits and - . _ ~ + / = only", false;
    return true;
}

bool SameSecret(const std::string& a, const std::string& b) {
    // The digests are compared, every byte of them: the time says nothing of where the
    // texts differ, nor of their lengths.
    const std::string x = Digest(a), y = Digest(b);
    unsigned char diff = 0;
    for (size_t i = 0; i < x.size(); ++i) diff |= static_cast<unsigned char>(x[i] ^ y[i]);
    return diff == 0;
}

}  // namespace zl::serve
