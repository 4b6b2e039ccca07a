#include "stations/port_list.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/serial.h"

namespace zl::stations {

std::optional<int> ComNumber(const std::u16string& name) {
    size_t b = 0, e = name.size();
    while (b < e && name[b] == u' ') ++b;
    while (e > b && name[e - 1] == u' ') --e;
    if (e - b < 4 || e - b > 6) return std::nullopt;
    const char16_t* s = name.data() + b;
    if ((s[0] | 0x20) != u'c' || (s[1] | 0x20) != u'o' || (s[2] | 0x20) != u'm') return std::nullopt;
    int n = 0;
    for (size_t i = 3; i < e - b; ++i) {
        if (s[i] < u'0' || s[i] > u'9') return std::nullopt;
        n = n * 10 + (s[i] - u'0');
    }
    if (s[3] == u'0' || n < 1 || n > 256) return std::nullopt;
    return n;
}

std::u16string ComName(int n) {
    const std::string s = "COM" + std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

std::u16string DeviceName(int n) { return u"\\\\.\\" + ComName(n); }

std::vector<int> ParsePortList(const std::u16string& text) {
    std::vector<int> ports;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u',', start);
        if (end == std::u16string::npos) end = text.size();
        if (auto n = ComNumber(text.substr(start, end - start)))
            if (std::find(ports.begin(), ports.end(), *n) == ports.end()) ports.push_back(*n);
        start = end + 1;
    }
    return ports;
}

std::u16string FormatPortList(const std::vector<int>& ports) {
    std::u16string text;
    for (int n : ports) {
        if (!text.empty()) text += u',';
        text += ComName(n);
    }
    return text;
}

std::vector<int> OfferablePorts(const std::vector<int>& held) {
    std::vector<int> ports;
    const std::string linkDir = PortDirectory() + "/";
    for (int n = 1; n <= 256; ++n) {
        if (std::find(held.begin(), held.end(), n) != held.end()) continue;
        const std::string path = ResolvePortPath(DeviceName(n));
        if (path.empty()) continue;
        std::error_code ec;
        if (path.rfind(linkDir, 0) == 0) {
            if (std::filesystem::exists(path, ec)) ports.push_back(n);
        } else if (PortHandle port = CreatePortHandle(DeviceName(n))) {
            port->Close();
            ports.push_back(n);
        }
    }
    return ports;
}

}  // namespace zl::stations
