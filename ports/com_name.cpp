#include "ports/com_name.h"

namespace zl {
namespace {

template <typename Char>
int Parse(std::basic_string_view<Char> name) {
    static constexpr Char kPrefix[] = {'\\', '\\', '.', '\\'};
    if (name.size() >= 4 && name.substr(0, 4) == std::basic_string_view<Char>(kPrefix, 4)) name.remove_prefix(4);
    auto upper = [](Char c) { return (c >= 'a' && c <= 'z') ? static_cast<Char>(c - 'a' + 'A') : c; };
    if (name.size() <= 3 || upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M') return 0;
    for (Char c : name)
        if (c == '/') return 0;  // a path that happens to begin with "com"
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > kComCount) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return name[3] == '0' || n < 1 || n > kComCount ? -1 : n;
}

}  // namespace

int ParseComName(std::u16string_view text) { return Parse(text); }
int ParseComName(std::string_view text) { return Parse(text); }

std::u16string ComShortName(int n) {
    const std::string digits = std::to_string(n);
    return u"COM" + std::u16string(digits.begin(), digits.end());
}

std::u16string ComDeviceName(int n) { return u"\\\\.\\" + ComShortName(n); }

std::u16string ShortPortName(std::u16string_view deviceName) {
    if (deviceName.substr(0, 4) == u"\\\\.\\") deviceName.remove_prefix(4);
    return std::u16string(deviceName);
}

}  // namespace zl
