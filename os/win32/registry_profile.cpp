#include "os/win32/registry_profile.h"

#include "os/win32/win_api.h"

namespace zl::win {
namespace {

class RegistryProfile : public Profile {
public:
    explicit RegistryProfile(const std::u16string& appName) : key_(L"Software\\Hallwyn\\" + Wide(appName)) {}

    int GetProfileInt(const std::u16string& section, const std::u16string& entry, int def) override {
        DWORD value = 0, size = sizeof value, type = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, Key(section).c_str(), Wide(entry).c_str(), RRF_RT_REG_DWORD, &type, &value,
                         &size) != ERROR_SUCCESS)
            return def;
        return static_cast<int>(value);
    }

    std::u16string GetProfileString(const std::u16string& section, const std::u16string& entry,
                                    const std::u16string& def) override {
        DWORD size = 0;
        const std::wstring key = Key(section), name = Wide(entry);
        if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS)
            return def;
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
            ERROR_SUCCESS)
            return def;
        value.resize(wcsnlen(value.c_str(), value.size()));
        return Narrow16(value);
    }

    bool WriteProfileInt(const std::u16string& section, const std::u16string& entry, int value) override {
        const DWORD v = static_cast<DWORD>(value);
        return Set(section, entry, REG_DWORD, &v, sizeof v);
    }

    bool WriteProfileString(const std::u16string& section, const std::u16string& entry,
                            const std::u16string& value) override {
        const std::wstring v = Wide(value);
        return Set(section, entry, REG_SZ, v.c_str(), static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
    }

private:
    std::wstring Key(const std::u16string& section) const {
        return section.empty() ? key_ : key_ + L"\\" + Wide(section);
    }

    bool Set(const std::u16string& section, const std::u16string& entry, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, Key(section).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return false;
        const LONG r = RegSetValueExW(key, Wide(entry).c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
        return r == ERROR_SUCCESS;
    }

    std::wstring key_;
};

}  // namespace

std::unique_ptr<Profile> MakeRegistryProfile(const std::u16string& appName) {
    return std::make_unique<RegistryProfile>(appName);
}

}  // namespace zl::win
