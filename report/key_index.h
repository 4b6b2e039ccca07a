// Texts numbered in the order they first come: a compact hash table for the many keys of
// a report (a million unit IDs), the texts kept one after another in one buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zl::report {

class KeyIndex {
public:
    // The number of key, new or known; added tells which.
    uint32_t Find(std::string_view key, bool& added);
    std::string_view Key(uint32_t index) const;
    size_t Size() const { return offsets_.size(); }

private:
    void Grow();

    struct Slot {
        uint64_t hash = 0;
        uint32_t index = UINT32_MAX;  // UINT32_MAX: empty
    };
    std::vector<Slot> slots_;
    std::vector<uint64_t> offsets_;  // where each key begins in text_; it ends where the next begins
    std::string text_;
};

}  // namespace zl::report
