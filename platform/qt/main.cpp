#include <QApplication>
#include <QIcon>

#include "app/bootloader_dlg.h"
#include "platform/qt/qt_platform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/bootloaderzl/icon.png")));
    zl::QtPlatform platform;
    zl::CBootloaderZLApp theApp(platform);
    theApp.InitInstance();  // ends the process when the dialog has ended
    return 0;
}
