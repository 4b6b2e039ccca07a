#include "faces/qt/qt_platform.h"

#include <unistd.h>

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>

#include <cmath>
#include <cstdio>

#include "faces/qt/dialog_window.h"
#include "faces/qt/file_dialog.h"
#include "os/qsettings/qsettings_profile.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {
namespace {

QString ToQString(const std::u16string& s) { return QString::fromStdU16String(s); }

}  // namespace

QtPlatform::QtPlatform() : profile_(MakeQSettingsProfile(AppName())) {}

QtPlatform::~QtPlatform() = default;

void QtPlatform::OnUiThread(const std::function<void()>& fn) {
    if (QThread::currentThread() == qApp->thread())
        fn();
    else
        QMetaObject::invokeMethod(qApp, fn, Qt::BlockingQueuedConnection);
}

std::unique_ptr<DialogWindow> QtPlatform::OpenMainWindow(const DialogTemplate& dlg, const MenuTemplate* menu,
                                                         Controls& controls, DialogCallbacks& callbacks) {
    auto window = std::make_unique<DialogWindow>(dlg, menu, controls, &callbacks, nullptr);
    window->setWindowIcon(QIcon(QStringLiteral(":/bootloaderzl/icon.png")));
    DialogWindow* w = window.get();
    QObject::connect(w, &QObject::destroyed, [this, w] {
        if (main_ == w) main_ = nullptr;
    });
    main_ = w;
    callbacks.OnInitDialog();
    return window;
}

int QtPlatform::DoModal(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                        DialogCallbacks& callbacks) {
    std::unique_ptr<DialogWindow> window = OpenMainWindow(dlg, menu, controls, callbacks);
    return window->exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

int QtPlatform::RunSubDialog(const DialogTemplate& dlg, Controls& controls, const std::function<void()>& onShow) {
    int result = IDCANCEL;
    if (boxesEnded_) return result;
    OnUiThread([&] {
        DialogWindow box(dlg, nullptr, controls, nullptr, onShow, main_);
        box.setWindowModality(Qt::ApplicationModal);
        result = box.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
    });
    return result;
}

void QtPlatform::SetTimer(unsigned id, unsigned ms) {
    OnUiThread([&] {
        if (main_) main_->StartTimer(id, ms);
    });
}

void QtPlatform::EndBoxes() {
    boxesEnded_ = true;
    // The open ones are answered as Esc answers them (Cancel where there is one).
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w == main_) continue;
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            if (QAbstractButton* escape = box->escapeButton()) escape->click();
            else box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
            dialog->reject();
        }
    }
}

int QtPlatform::MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) {
    const int unshown = (type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK;
    if (boxesEnded_) return unshown;
    int result = IDOK;
    OnUiThread([&] {
        // Asked for from a worker just as the boxes were ended.
        if (boxesEnded_) {
            result = unshown;
            return;
        }
        QMessageBox box(main_);
        box.setWindowTitle(ToQString(title.empty() ? AppName() : title));
        box.setTextFormat(Qt::PlainText);
        box.setText(ToQString(text));
        switch (type & MB_ICONMASK) {
            case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
            case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
            case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
            case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
            default: box.setIcon(QMessageBox::NoIcon); break;
        }
        QPushButton* ok = box.addButton(QMessageBox::Ok);
        QPushButton* cancel = nullptr;
        if ((type & MB_TYPEMASK) == MB_OKCANCEL) cancel = box.addButton(QMessageBox::Cancel);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel ? cancel : ok);
        box.exec();
        result = (cancel && box.clickedButton() != ok) ? IDCANCEL : IDOK;
    });
    return result;
}

std::optional<std::u16string> QtPlatform::FileDialog(bool open, const std::u16string& filter,
                                                     const std::u16string& defExt, unsigned flags) {
    std::optional<std::u16string> chosen;
    if (boxesEnded_) return chosen;
    OnUiThread([&] {
        QFileDialog dialog(main_);
        SetUpFileDialog(dialog, open, filter, defExt);
        if (!open && !(flags & OFN_OVERWRITEPROMPT)) dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = QFileInfo(dialog.selectedFiles().first()).absoluteFilePath().toStdU16String();
    });
    return chosen;
}

int QtPlatform::ControlWidth(int id) {
    int width = 0;
    OnUiThread([&] {
        if (main_)
            if (QWidget* w = main_->Widget(id)) width = w->width();
    });
    return width;
}

int QtPlatform::TextWidth(int id, const std::u16string& text) {
    int width = 0;
    OnUiThread([&] {
        QWidget* w = main_ ? main_->Widget(id) : nullptr;
        // Glyph advances are fractional here; rounding each text to the nearest pixel
        // lets two widths add up to less than the width of the texts joined, so that a
        // shortened path measured in parts could overrun its line by a pixel. Whole
        // pixels rounded up add up to at least the joined width, as the integer text
        // extents of Windows do.
        const QFontMetricsF fm(w ? w->font() : QApplication::font());
        width = static_cast<int>(std::ceil(fm.horizontalAdvance(ToQString(text))));
    });
    return width;
}

Profile& QtPlatform::GetProfile() { return *profile_; }

std::u16string QtPlatform::AppName() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString name = path.isEmpty() ? QStringLiteral("BootloaderZL") : QFileInfo(path).completeBaseName();
    return name.toStdU16String();
}

void QtPlatform::EndProgram(int code) {
    std::fflush(nullptr);
    _exit(code);
}

}  // namespace zl
