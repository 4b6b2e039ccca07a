#include "protocol/commands.h"

#include "protocol/wire_text.h"

namespace zl {

void SendCommand(const PortHandle& port, const std::string& command) {
    for (char c : command) WriteBytes(port, &c, 1);
}

uint32_t WriteBytes(const PortHandle& port, const void* data, size_t n) {
    if (!port) return 0;
    uint32_t written = 0;
    port->WriteFile(static_cast<const uint8_t*>(data), static_cast<uint32_t>(n), written);
    return written;
}

bool ReadByte(const PortHandle& port, uint8_t& byte) {
    if (!port) return false;
    uint32_t read = 0;
    return port->ReadFile(&byte, 1, read) && read == 1;
}

bool ReadUntilSilent(const PortHandle& port, std::u16string& text, ReadLimit limit) {
    const auto end = std::chrono::steady_clock::now() + limit.time;
    size_t n = 0;
    uint8_t b;
    while (ReadByte(port, b)) {
        AppendWidened(text, b);
        if (++n >= limit.chars || std::chrono::steady_clock::now() >= end) return false;
    }
    return true;
}

bool DrainUntilSilent(const PortHandle& port, ReadLimit limit) {
    const auto end = std::chrono::steady_clock::now() + limit.time;
    size_t n = 0;
    uint8_t b;
    while (ReadByte(port, b))
        if (++n >= limit.chars || std::chrono::steady_clock::now() >= end) return false;
    return true;
}

bool LineGone(const PortHandle& port) { return !port || port->LineLost(); }

}  // namespace zl
