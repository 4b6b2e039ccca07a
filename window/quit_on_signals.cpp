#include "window/quit_on_signals.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <memory>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "faces/qt/dialog_window.h"
#include "faces/qt/qt_platform.h"
#include "faces/qt/quit_signals.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {

void QuitDialogOnSignals(CBootloaderZLDlg& dlg, QtPlatform& platform) {
    using Clock = std::chrono::steady_clock;
    QuitOnSignals([&dlg, &platform](int) {
        static bool quitting = false;
        if (quitting) return;
        quitting = true;
        platform.EndBoxes();
        if (dlg.m_bTransferRunning != 0) {
            auto* wait = new QMessageBox(QMessageBox::Information, QString::fromStdU16String(platform.AppName()),
                                         QString::fromStdU16String(Text(TextId::WaitForProcess, dlg.English())),
                                         QMessageBox::NoButton, platform.MainWindow());
            wait->setModal(false);
            wait->show();
        }
        auto* poll = new QTimer(qApp);
        auto idleSince = std::make_shared<Clock::time_point>(Clock::now());
        QObject::connect(poll, &QTimer::timeout, [&dlg, idleSince] {
            if (dlg.m_bTransferRunning != 0) {
                *idleSince = Clock::now();
                return;
            }
            // A load's record names the firmware the device reports next (about a
            // second); it is not waited for longer than that.
            if (dlg.LoadRecordHeld() && Clock::now() - *idleSince < std::chrono::seconds(3)) return;
            dlg.OnCommand(IDC_QUIT, BN_CLICKED);  // ends the process
        });
        poll->start(50);
    });
}

}  // namespace zl
