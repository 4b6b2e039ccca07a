// BootloaderZL-Stations: several ports at once, one dialog per station, one window.
#include <QApplication>
#include <QIcon>

#include "stations/stations_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("com.hallwyn.BootloaderZL.Stations"));
    Q_INIT_RESOURCE(resources);
    app.setWindowIcon(QIcon(QStringLiteral(":/bootloaderzl/icon.png")));
    zl::stations::StationsWindow window;
    window.resize(1280, 800);
    window.show();
    return app.exec();
}
