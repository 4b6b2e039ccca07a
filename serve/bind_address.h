// What --serve and --serve-token give: the address to listen on, whether it is a loopback
// address, and the bearer token.
#pragma once

#include <string>

namespace zl::serve {

struct BindAddress {
    std::string host;      // as given, without brackets ("127.0.0.1", "::1", "localhost", "0.0.0.0")
    int port = 0;          // 0: any free port (the one chosen is told)
    bool loopback = false; // 127.0.0.0/8, ::1 or "localhost"
};

// "HOST:PORT", "[IPv6]:PORT"; false with a message for anything else.
bool ParseBindAddress(const std::string& text, BindAddress& out, std::string& error);

// The token in a file: its first line without surrounding blanks, at least 16 characters
// of RFC 6750's token alphabet; false with a message otherwise.
bool ReadToken(const std::string& path, std::string& token, std::string& error);

// Equal, in a time that tells nothing of the texts (their SHA-256 digests are compared).
bool SameSecret(const std::string& a, const std::string& b);

}  // namespace zl::serve
