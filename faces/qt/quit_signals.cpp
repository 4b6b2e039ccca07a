#include "faces/qt/quit_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <memory>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "faces/qt/dialog_window.h"
#include "faces/qt/qt_platform.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {
namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int sig) {
    // Async-signal-safe: one byte into a pipe that the main loop watches.
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

void QuitOnSignals(std::function<void(int)> onSignal) {
    if (g_pipe[0] >= 0 || pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        char byte;
        while (read(g_pipe[0], &byte, 1) == 1) onSignal(static_cast<unsigned char>(byte));
    });
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(sig, &sa, nullptr);
    }
}

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
