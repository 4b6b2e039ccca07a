#include <QApplication>
#include <QIcon>

#include <cstdio>

#include "app/bootloader_dlg.h"
#include "faces/qt/qt_platform.h"
#include "window/quit_on_signals.h"
#include "records/record_log.h"
#ifdef __linux__
#include "os/posix/port_diagnosis.h"
#endif

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
    zl::RecordLog records(zl::RecordLog::DefaultPath(), "BootloaderZL", BZL_VERSION,
                          [](const std::string& problem) { std::fprintf(stderr, "BootloaderZL: %s\n", problem.c_str()); });
    // As CBootloaderZLApp::InitInstance, with the signals that end the program as Quit.
    auto* dlg = new zl::CBootloaderZLDlg(platform);
    dlg->m_recordSink = &records;
    zl::QuitDialogOnSignals(*dlg, platform);
    dlg->DoModal();
    // Worker threads may still run: the process ends here rather than let them meet a
    // destroyed dialog.
    platform.EndProgram(0);
}
