// BootloaderZL-Stations: several ports at once, one dialog per station, one window.
#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "faces/qt/quit_signals.h"
#include "platform/serial.h"
#include "stations/launch.h"
#include "stations/stations_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.hallwyn.BootloaderZL.Stations"));
    Q_INIT_RESOURCE(resources);
    app.setWindowIcon(QIcon(QStringLiteral(":/bootloaderzl/icon.png")));
    int refused = 0;
    std::optional<zl::stations::WindowSetup> setup = zl::stations::SetupFromArguments(app.arguments().mid(1), refused);
    if (!setup) return refused;
    zl::stations::StationsWindow window(std::move(*setup));
    // --serve: listening once the window stands, before any station runs.
    if (std::string error; !window.StartServing(error)) {
        zl::stations::RefuseServe(QString::fromStdString(error));
        return 1;
    }
    // Logout, shutdown, kill or the terminal closed: every station ends as Quit does,
    // its transfer under way finished first.
    zl::QuitOnSignals([&window](int) { window.Shutdown(); });
    window.resize(1280, 800);
    window.show();
    const int code = app.exec();
    if (window.LeftRunning()) {
        std::fflush(nullptr);
        zl::ReleaseExclusiveMarks();
        std::_Exit(code);
    }
    return code;
}
