// SHA-256 (FIPS 180-4), incremental; portable, no system headers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zl {

class Sha256 {
public:
    Sha256();
    void Update(const uint8_t* data, size_t n);
    // The digest as 64 lowercase hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* p);

    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buffer_{};
    size_t used_ = 0;
    uint64_t length_ = 0;  // bytes
};

}  // namespace zl
