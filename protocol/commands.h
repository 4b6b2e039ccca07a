// The bootloader's command set and the ways the exchanges read the line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial.h"

namespace zl {

// Commands: carriage return, "S", the command word, carriage return.
inline const std::string kCmdMenu = "\rSmenu\r";
inline const std::string kCmdLoad = "\rSload\r";
inline const std::string kCmdProg = "\rSprog\r";
inline const std::string kCmdMake = "\rSmake\r";
inline const std::string kCmdRead = "\rSread\r";
inline const std::string kCmdVerify = "\rSverify\r";
inline const std::string kCmdReset = "\rSreset\r";
// The wake-up string, always sent in one write.
inline const std::string kWakeUp = "BoOt\r";
// The size of a firmware block: loads and verifies send, readouts count, in these.
inline constexpr size_t kBlockSize = 512;

// Sends a command one byte per write call; results are not looked at.
void SendCommand(const PortHandle& port, const std::string& command);
// One write of n bytes; the number written.
uint32_t WriteBytes(const PortHandle& port, const void* data, size_t n);
// One read call of one byte; false when nothing was read (quiet line, failure, no port).
bool ReadByte(const PortHandle& port, uint8_t& byte);
// How long a device may keep talking before a read until silence gives up on it.
struct ReadLimit {
    std::chrono::milliseconds time{10000};
    size_t chars = 1u << 20;
};

// Reads one byte per call until a read returns nothing, appending each byte widened.
// A device that never falls silent is given up after the limit: false then.
bool ReadUntilSilent(const PortHandle& port, std::u16string& text, ReadLimit limit = {});
// The same, dropping the bytes.
bool DrainUntilSilent(const PortHandle& port, ReadLimit limit = {});
// True once the port's line has been hung up (or there is no port).
bool LineGone(const PortHandle& port);

}  // namespace zl
