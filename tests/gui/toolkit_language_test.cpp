// The toolkit's own texts follow the program's language at run time: the Auto-Load file
// dialog of the real window shows German buttons while the window is German and English
// ones after the language menu switched it, and back. A picture of the window with the
// open dialog goes to the build folder for each language.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/bootloader_dlg.h"
#include "faces/qt/dialog_window.h"
#include "faces/qt/qt_platform.h"
#include "res/resources.h"
#include "tests/support/temp_env.h"

namespace zl::test {

class ToolkitLanguageTest : public QObject {
    Q_OBJECT

    struct Seen {
        bool opened = false;
        QString open, cancel;
    };

    // Presses Auto-Load On, waits (bounded) for the file dialog, notes the texts of its
    // buttons, saves the window with the dialog over it as autoload-dialog-<name>.png and
    // cancels the dialog.
    static Seen OpenFileDialog(DialogWindow& window, const QString& name) {
        Seen seen;
        QTimer poll;
        int polls = 0;
        connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                if (++polls > 500) poll.stop();
                return;
            }
            poll.stop();
            QTest::qWait(50);  // let the dialog lay itself out
            seen.opened = true;
            if (auto* box = dialog->findChild<QDialogButtonBox*>()) {
                if (QPushButton* b = box->button(QDialogButtonBox::Open)) seen.open = b->text().remove(QLatin1Char('&'));
                if (QPushButton* b = box->button(QDialogButtonBox::Cancel)) seen.cancel = b->text().remove(QLatin1Char('&'));
            }
            const QRect all = window.frameGeometry().united(dialog->frameGeometry());
            QPixmap shot(all.size());
            shot.fill(Qt::darkGray);
            QPainter painter(&shot);
            painter.drawPixmap(window.geometry().topLeft() - all.topLeft(), window.grab());
            painter.drawPixmap(dialog->geometry().topLeft() - all.topLeft(), dialog->grab());
            painter.end();
            shot.save(QStringLiteral(BZL_SCREENSHOT_DIR "/autoload-dialog-%1.png").arg(name));
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        });
        poll.start(10);
        QTest::mouseClick(window.Widget(IDC_AUTOLOAD_ON), Qt::LeftButton);  // returns once the dialog has closed
        return seen;
    }

    static QAction* LanguageItem(DialogWindow& window, const QString& text) {
        for (QAction* top : window.findChild<QMenuBar*>()->actions())
            if (top->menu())
                for (QAction* item : top->menu()->actions())
                    if (item->text() == text) return item;
        return nullptr;
    }

private slots:
    void fileDialogFollowsLanguage() {
        TempEnv env;
        QtPlatform platform;
        CBootloaderZLDlg dlg(platform);  // starts German, as without a profile
        std::unique_ptr<DialogWindow> window = platform.OpenMainWindow(MainDialogTemplate(), &MainMenu(), dlg.m_controls, dlg);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QAction* german = LanguageItem(*window, QStringLiteral("&Deutsch"));
        QAction* english = LanguageItem(*window, QStringLiteral("&English"));
        QVERIFY(german && english);

        struct Step {
            QAction* item;
            const char* name;
            QString open, cancel;
        };
        const Step steps[] = {
            {nullptr, "de", QStringLiteral("\u00d6ffnen"), QStringLiteral("Abbrechen")},
            {english, "en", QStringLiteral("Open"), QStringLiteral("Cancel")},
            {german, "de-again", QStringLiteral("\u00d6ffnen"), QStringLiteral("Abbrechen")},
        };
        for (const Step& step : steps) {
            if (step.item) step.item->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!step.item || step.item->isChecked(), 5000);
            const Seen seen = OpenFileDialog(*window, QString::fromLatin1(step.name));
            QVERIFY2(seen.opened, step.name);
            QCOMPARE(seen.open, step.open);
            QCOMPARE(seen.cancel, step.cancel);
        }
        window.reset();  // before the controls it mirrors
    }
};

}  // namespace zl::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zl::test::ToolkitLanguageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "toolkit_language_test.moc"
