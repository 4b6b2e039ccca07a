// The per-user profile: values under the application's key, by section and name.
#pragma once

#include <string>

namespace zl {

class Profile {
public:
    virtual ~Profile() = default;
    // A missing value, or one that is not a 32-bit integer, gives def.
    virtual int GetProfileInt(const std::u16string& section, const std::u16string& entry, int def) = 0;
    virtual std::u16string GetProfileString(const std::u16string& section, const std::u16string& entry,
                                            const std::u16string& def) = 0;
    // Each write reaches the store at once.
    virtual bool WriteProfileInt(const std::u16string& section, const std::u16string& entry, int value) = 0;
    virtual bool WriteProfileString(const std::u16string& section, const std::u16string& entry,
                                    const std::u16string& value) = 0;
};

}  // namespace zl
