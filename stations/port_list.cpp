#include "stations/port_list.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/serial.h"
#include "ports/com_name.h"

namespace zl::stations {

std::optional<int> ComNumber(const std::u16string& name) {
    size_t b = 0, e = name.size();
    while (b < e && name[b] == u' ') ++b;
    while (e > b && name[e - 1] == u' ') --e;
    const std::u16string_view entry = std::u16string_view(name).substr(b, e - b);
    if (entry.substr(0, 4) == u"\\\\.\\") return std::nullopt;  // a list names ports as the user sees them
    const int n = ParseComName(entry);
    return n > 0 ? std::optional<int>(n) : std::nullopt;
}

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
        text += ComShortName(n);
    }
    return text;
}

std::vector<int> OfferablePorts(const std::vector<int>& held) {
    std::vector<int> ports;
    const std::string linkDir = PortDirectory() + "/";
    for (int n = 1; n <= 256; ++n) {
        if (std::find(held.begin(), held.end(), n) != held.end()) continue;
        const std::string path = ResolvePortPath(ComDeviceName(n));
        if (path.empty()) continue;
        std::error_code ec;
        if (path.rfind(linkDir, 0) == 0) {
            if (std::filesystem::exists(path, ec)) ports.push_back(n);
        } else if (PortHandle port = CreatePortHandle(ComDeviceName(n))) {
            port->Close();
            ports.push_back(n);
        }
    }
    return ports;
}

}  // namespace zl::stations
