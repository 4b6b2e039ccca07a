#include "report/key_index.h"

namespace zl::report {
namespace {

uint64_t Hash(std::string_view s) {
    uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a, then mixed so that the low bits spread
    for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

}  // namespace

std::string_view KeyIndex::Key(uint32_t index) const {
    const uint64_t begin = offsets_[index];
    const uint64_t end = index + 1 < offsets_.size() ? offsets_[index + 1] : text_.size();
    return std::string_view(text_).substr(begin, end - begin);
}

void KeyIndex::Grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (s.index == UINT32_MAX) continue;
        size_t at = s.hash & mask;
        while (slots_[at].index != UINT32_MAX) at = (at + 1) & mask;
        slots_[at] = s;
    }
}

uint32_t KeyIndex::Find(std::string_view key, bool& added) {
    if ((offsets_.size() + 1) * 4 > slots_.size() * 3) Grow();  // at most three quarters full
    const uint64_t h = Hash(key);
    const size_t mask = slots_.size() - 1;
    for (size_t at = h & mask;; at = (at + 1) & mask) {
        Slot& s = slots_[at];
        if (s.index == UINT32_MAX) {
            s.hash = h;
            s.index = static_cast<uint32_t>(offsets_.size());
            offsets_.push_back(text_.size());
            text_.append(key);
            added = true;
            return s.index;
        }
        if (s.hash == h && Key(s.index) == key) {
            added = false;
            return s.index;
        }
    }
}

}  // namespace zl::report
