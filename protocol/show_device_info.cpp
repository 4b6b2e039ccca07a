// Puts a device text into the display: the Firmware panels, the result line, the
// stored device text and the bootloader summary.
#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "protocol/compat.h"
#include "protocol/device_info.h"
#include "res/resources.h"

namespace zl {

void ShowDeviceInfo(CBootloaderZLDlg* dlg, std::u16string text) {
    const bool en = dlg->English();
    Controls& c = dlg->m_controls;
    DeviceShown shown;
    if (dlg->DeviceSel() == 0) {
        const Pic32View v = ShowPic32(std::move(text), en);
        dlg->m_strDeviceInfo.Set(v.deviceInfo);
        dlg->m_strBootloaderSummary.Set(v.summary);
        c.SetWindowText(IDC_FW_RESULT, v.result);
        c.SetWindowText(IDC_FW_LEFT, v.left);
        c.SetWindowText(IDC_FW_RIGHT, v.right);
        const DeviceIdentity id = IdentityOf(v.deviceInfo, en);
        shown = {true, !v.left.empty() && v.left != Text(TextId::NoDevice, en), id.manufacturer, id.hardware,
                 v.left, v.right, v.result};
    } else {
        const HcsView v = ShowHcs(std::move(text), en);
        if (v.clearSummary) dlg->m_strBootloaderSummary.Set(u"");
        if (!v.setLeft) return;
        c.SetWindowText(IDC_FW_LEFT, v.left);
        shown.pic32 = false;
        shown.described = !v.left.empty();
        shown.firmware = v.left;
    }
    dlg->m_platform.DeviceShownChanged(shown);
}

bool IsFileCompatible(CBootloaderZLDlg* dlg, std::u16string deviceText, std::u16string headerText) {
    return IsFileCompatibleText(dlg->English(), std::move(deviceText), std::move(headerText));
}

}  // namespace zl
