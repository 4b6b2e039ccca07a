#include "faces/headless/readonly_profile.h"

namespace zl {

void ReadOnlyProfile::SetInt(const std::u16string& entry, int value) {
    std::lock_guard<std::mutex> lock(mutex_);
    ints_[entry] = value;
}

void ReadOnlyProfile::SetString(const std::u16string& entry, const std::u16string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    strings_[entry] = value;
}

int ReadOnlyProfile::GetProfileInt(const std::u16string& section, const std::u16string& entry, int def) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (section.empty())
        if (auto it = ints_.find(entry); it != ints_.end()) return it->second;
    return base_ ? base_->GetProfileInt(section, entry, def) : def;
}

std::u16string ReadOnlyProfile::GetProfileString(const std::u16string& section, const std::u16string& entry,
                                                 const std::u16string& def) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (section.empty())
        if (auto it = strings_.find(entry); it != strings_.end()) return it->second;
    return base_ ? base_->GetProfileString(section, entry, def) : def;
}

}  // namespace zl
