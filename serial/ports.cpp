// The port scan, the two line configurations and closing the port.
#include <mutex>
#include <string>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/comm_dcb.h"
#include "platform/win32.h"
#include "ports/com_name.h"

namespace zl {
namespace {

struct LineConfig {
    const char16_t* mode;
    uint32_t intervalMs;
    uint32_t totalConstantMs;
    bool clearInX;
};

const LineConfig kSearchPic32{u"115200,n,8,1", 10, 10, false};
const LineConfig kSearchHcs{u"57600,n,8,1", 40, 40, false};
const LineConfig kReadout{u"115200,n,8,1", 1000, 400, true};

// Held while a port is probed (opened and closed again) or opened for good, so that the
// probes of one dialog's port scan never make another dialog's opening in the same
// process fail (each probe holds a port exclusively for a moment).
std::mutex g_portOpening;

// Opens the port and configures it for the search (by the device kind) or the readout.
int OpenPort(const std::u16string& deviceName, CBootloaderZLDlg* dlg, bool readout) {
    if (dlg->m_hPort.IsOpen()) return 1;
    PortHandle port;
    {
        std::lock_guard<std::mutex> lock(g_portOpening);
        port = CreatePortHandle(deviceName);
    }
    dlg->m_hPort.Set(port);
    const bool en = dlg->English();
    if (!port) {
        dlg->m_hPort.Set(nullptr);
        // Said once per loss: while the tick watches for the same port to come back, a
        // failed attempt says nothing new.
        const bool known = dlg->m_strLostPort.Get() == deviceName;
        dlg->m_strLostPort.Set(deviceName);
        dlg->ShowPortLost();
        if (!known)
            dlg->m_platform.MessageBox(Text(TextId::PortNotAvailable, en), Text(TextId::TitleError, en),
                                       MB_OK | MB_ICONEXCLAMATION);
        return -1;
    }
    const LineConfig& config = readout ? kReadout : (dlg->DeviceSel() == 0 ? kSearchPic32 : kSearchHcs);
    DCB dcb{};
    if (!BuildCommDCB(config.mode, dcb)) {
        ClosePort(dlg);
        dlg->m_platform.MessageBox(Text(TextId::BuildCommDcbFailed, en), u"", MB_OK);
        return -1;
    }
    if (config.clearInX) dcb.fInX = false;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = config.intervalMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = config.totalConstantMs;
    // A line that does not take its settings is released at once, not held unusable.
    if (!port->SetCommTimeouts(timeouts) || !port->SetCommState(dcb)) {
        ClosePort(dlg);
        return -1;
    }
    return 1;
}

}  // namespace

bool CanOpenPort(const std::u16string& deviceName) {
    std::lock_guard<std::mutex> lock(g_portOpening);
    PortHandle port = CreatePortHandle(deviceName);
    if (!port) return false;
    port->Close();
    return true;
}

std::array<std::u16string, 256> ScanPorts() {
    std::array<std::u16string, 256> slots{};
    std::lock_guard<std::mutex> lock(g_portOpening);
    for (const std::u16string& name : OpenablePorts()) {
        const int n = ParseComName(name);
        if (n >= 1 && n <= kComCount) slots[n - 1] = name;
    }
    return slots;
}

int OpenPortForSearch(std::u16string deviceName, CBootloaderZLDlg* dlg) {
    return OpenPort(deviceName, dlg, false);
}

int OpenPortForReadout(std::u16string deviceName, CBootloaderZLDlg* dlg) {
    return OpenPort(deviceName, dlg, true);
}

void ClosePort(CBootloaderZLDlg* dlg) {
    PortHandle port = dlg->m_hPort.Get();
    if (port) port->Close();
    dlg->m_hPort.Set(nullptr);
}

}  // namespace zl
