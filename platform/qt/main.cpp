#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <memory>
#include <cstdio>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "platform/qt/dialog_window.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/quit_signals.h"
#include "platform/win32.h"
#include "res/resources.h"
#ifdef __linux__
#include "platform/posix/port_diagnosis.h"
#endif

namespace {

// A signal that asks the program to end (logout, shutdown, kill, the terminal closed)
// is a Quit: the boxes are answered as Esc answers them, a transfer under way is
// finished (the wait text is shown meanwhile), its record written, and then Quit resets
// the device, releases the port and ends the process.
void QuitOnSignal(zl::CBootloaderZLDlg& dlg, zl::QtPlatform& platform) {
    using Clock = std::chrono::steady_clock;
    zl::QuitOnSignals([&dlg, &platform](int) {
        static bool quitting = false;
        if (quitting) return;
        quitting = true;
        platform.EndBoxes();
        if (dlg.m_bTransferRunning != 0) {
            auto* wait = new QMessageBox(QMessageBox::Information, QString::fromStdU16String(platform.AppName()),
                                         QString::fromStdU16String(zl::Text(zl::TextId::WaitForProcess, dlg.English())),
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
            dlg.OnCommand(zl::IDC_QUIT, zl::BN_CLICKED);  // ends the process
        });
        poll->start(50);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon (Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.hallwyn.BootloaderZL"));
#ifdef __linux__
    // The Port box lists only ports that can be opened: say which ones are left out for
    // lack of permission, and how to fix it.
    for (const zl::PortDiagnosis& d : zl::DiagnoseAllPorts(false))
        if (d.state == zl::PortState::PermissionDenied)
            std::fprintf(stderr, "BootloaderZL: COM%d (%s) cannot be opened: permission denied. Fix: %s\n", d.number,
                         d.path.c_str(), d.fix.c_str());
#endif
    app.setWindowIcon(QIcon(QStringLiteral(":/bootloaderzl/icon.png")));
    zl::QtPlatform platform;
    // As CBootloaderZLApp::InitInstance, with the signals that end the program as Quit.
    auto* dlg = new zl::CBootloaderZLDlg(platform);
    QuitOnSignal(*dlg, platform);
    dlg->DoModal();
    // Worker threads may still run: the process ends here rather than let them meet a
    // destroyed dialog.
    platform.ExitProcess(0);
}
