#include "protocol/transfer_util.h"

#include "platform/win32.h"

namespace zl {

void ShowFileError(CBootloaderZLDlg* dlg, TextId what, const std::u16string& path, const std::u16string& reason) {
    const bool en = dlg->English();
    dlg->m_platform.MessageBox(Text(what, en) + path + u"\n\n" + reason, Text(TextId::TitleError, en),
                               MB_OK | MB_ICONERROR);
}

void ShowTransferError(CBootloaderZLDlg* dlg, TextId text) {
    const bool en = dlg->English();
    dlg->m_platform.MessageBox(Text(text, en), Text(TextId::TitleError, en), MB_OK | MB_ICONERROR);
}

std::u16string FormatCounts(const std::u16string& text, long long first, long long second) {
    std::u16string out;
    int used = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && text[i + 1] == u'i' && used < 2) {
            const std::string n = std::to_string(used == 0 ? first : second);
            out.append(n.begin(), n.end());
            ++used;
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void HandBackToInfoThread(CBootloaderZLDlg* dlg, bool afterLoad) {
    dlg->m_bInfoEnded = 0;
    dlg->m_bTransferRunning = 0;
    if (afterLoad) dlg->m_nInfoCycle = 1;
    StartWorker(InfoThread, dlg, THREAD_PRIORITY_NORMAL);
}

}  // namespace zl
