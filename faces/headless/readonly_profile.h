// A read-only view of a profile: reads come from the user's profile unless a value is
// set here for the run; writes are dropped, so the user's profile never changes.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/profile.h"

namespace zl {

class ReadOnlyProfile : public Profile {
public:
    explicit ReadOnlyProfile(std::unique_ptr<Profile> base) : base_(std::move(base)) {}
    // Values of this run, in the empty section, that win over the user's profile.
    void SetInt(const std::u16string& entry, int value);
    void SetString(const std::u16string& entry, const std::u16string& value);

    int GetProfileInt(const std::u16string& section, const std::u16string& entry, int def) override;
    std::u16string GetProfileString(const std::u16string& section, const std::u16string& entry,
                                    const std::u16string& def) override;
    bool WriteProfileInt(const std::u16string&, const std::u16string&, int) override { return true; }
    bool WriteProfileString(const std::u16string&, const std::u16string&, const std::u16string&) override {
        return true;
    }

private:
    std::mutex mutex_;
    std::unique_ptr<Profile> base_;
    std::map<std::u16string, int> ints_;
    std::map<std::u16string, std::u16string> strings_;
};

}  // namespace zl
