// Serial ports, opened by their device names "\\.\COMn".
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comm_dcb.h"

namespace zl {

// One open port. Calls may come from several threads at once (one writing, one
// reading). Close() may be called from any thread: it wakes a thread blocked in a read
// or write at once, releases the device, and makes every later call fail.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    virtual bool SetCommState(const DCB& dcb) = 0;
    virtual bool GetCommState(DCB& dcb) = 0;
    virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    virtual bool GetCommTimeouts(COMMTIMEOUTS& timeouts) = 0;
    // Reads up to n bytes with the read time-outs; false when the call failed. A
    // closed port, a hung-up line and a quiet line all give read == 0.
    virtual bool ReadFile(uint8_t* buf, uint32_t n, uint32_t& read) = 0;
    // Writes all n bytes (there are no write time-outs); false when the call failed.
    virtual bool WriteFile(const uint8_t* buf, uint32_t n, uint32_t& written) = 0;
    virtual void Close() = 0;
    // True once the line has been hung up (the adapter pulled, the other end of a
    // pseudo-terminal closed): nothing will cross it again. Looks at the line without
    // reading from it, so it may be asked at any time.
    virtual bool LineLost() = 0;
};

using PortHandle = std::shared_ptr<SerialPort>;

// Opens a port exclusively (fails while any other handle, of this or another
// program, holds it). nullptr when the port is missing, busy or not a serial line.
PortHandle CreatePortHandle(const std::u16string& deviceName);

// The ports that can be opened now ("\\.\COMn", ascending): each port the system has
// is opened and closed again. Windows takes the ports it lists and gives up on one that
// does not answer within a bound; Linux tries COM1 to COM256.
std::vector<std::u16string> OpenablePorts();

// Takes the exclusive marks off every port this process still holds, for a process
// that must end while a thread still uses one: a pseudo-terminal whose other side stays
// open keeps the mark after the process is gone, and would refuse the next opener.
void ReleaseExclusiveMarks();

// The device path behind "\\.\COMn" (empty when none): a link comN in the per-user
// port directory, else the default table of the machine's own ports.
std::string ResolvePortPath(const std::u16string& deviceName);
// Tests switch the machine's own ports off, so that only their port directory counts.
void UseDefaultPortTable(bool use);
// Lets COMn lead to a device for this process only, where neither a link nor the
// default table names the number (bzl's ports given by path). Never written anywhere.
void AddProcessPort(int n, const std::string& devicePath);
// The per-user port directory ($XDG_CONFIG_HOME/Hallwyn/ports).
std::string PortDirectory();

// The dialog's port handle: shared between threads, replaced whole under a lock.
class PortSlot {
public:
    PortHandle Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return handle_;
    }
    void Set(PortHandle handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        handle_ = std::move(handle);
    }
    bool IsOpen() const { return Get() != nullptr; }

private:
    mutable std::mutex mutex_;
    PortHandle handle_;
};

}  // namespace zl
