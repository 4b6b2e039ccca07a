// The main window on the Qt face: built from template 102 as the controls model holds
// it, texts that fit their controls in both languages, the language menu, the Auto-Load
// path line in the real font, and which combo box changes reach the handlers.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/bootloader_dlg.h"
#include "app/texts.h"
#include "faces/qt/combo_box.h"
#include "faces/qt/dialog_window.h"
#include "faces/qt/qt_platform.h"
#include "faces/qt/text_display.h"
#include "platform/win32.h"
#include "protocol/device_info.h"
#include "res/resources.h"
#include "tests/support/temp_env.h"

namespace zl::test {
namespace {

QString ToQString(const std::u16string& s) { return QString::fromStdU16String(s); }

struct Command {
    int id;
    int code;
};

// Passes the window's calls on to the dialog and records the commands among them.
class RecordingCallbacks : public DialogCallbacks {
public:
    explicit RecordingCallbacks(CBootloaderZLDlg& dlg) : dlg_(dlg) {}
    bool OnInitDialog() override { return dlg_.OnInitDialog(); }
    void OnShowWindow(bool show, int status) override { dlg_.OnShowWindow(show, status); }
    void OnCommand(int id, int code) override {
        commands.push_back({id, code});
        dlg_.OnCommand(id, code);
    }
    void OnTimer(unsigned id) override { dlg_.OnTimer(id); }
    void OnSysCommand(unsigned command) override { dlg_.OnSysCommand(command); }
    bool OnClose() override { return dlg_.OnClose(); }

    // The notification codes that reached the dialog for control id, in order.
    QList<int> CodesFor(int id) const {
        QList<int> codes;
        for (const Command& c : commands)
            if (c.id == id) codes.push_back(c.code);
        return codes;
    }
    std::vector<Command> commands;

private:
    CBootloaderZLDlg& dlg_;
};

// The program's main window on the Qt face, initialised as DoModal initialises it,
// with a configuration directory of its own and no serial ports.
class Rig {
public:
    explicit Rig(bool english = false) {
        env = std::make_unique<TempEnv>();
        platform = std::make_unique<QtPlatform>();
        if (english) platform->GetProfile().WriteProfileInt(u"", u"PrevLang", 1);
        dlg = std::make_unique<CBootloaderZLDlg>(*platform);
        callbacks = std::make_unique<RecordingCallbacks>(*dlg);
        window = platform->OpenMainWindow(MainDialogTemplate(), &MainMenu(), dlg->m_controls, *callbacks);
    }
    ~Rig() {
        window.reset();  // before the controls it mirrors
        callbacks.reset();
        dlg.reset();
        platform.reset();
    }

    // Shows the window; the first show runs the program's start-up.
    bool Show() {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) return false;
        Settle();
        return true;
    }
    // Lets the window apply what the model reported.
    void Settle() {
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
    }

    QWidget* W(int id) const { return window->Widget(id); }
    template <class T>
    T* Get(int id) const {
        return qobject_cast<T*>(window->Widget(id));
    }
    QString ModelText(int id) const { return ToQString(dlg->m_controls.GetWindowText(id)); }

    // A value as the profile file on disk holds it; empty when it is not there.
    std::string ProfileValue(const std::string& key) const {
        const std::string path = env->dir() + "/Hallwyn/" + QString::fromStdU16String(platform->AppName()).toStdString() +
                                 ".conf";
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return {};
    }

    QAction* MenuItem(const QString& text) const {
        auto* bar = window->findChild<QMenuBar*>();
        if (!bar) return nullptr;
        for (QAction* top : bar->actions()) {
            if (top->text() != QStringLiteral("&Sprache / Language") || !top->menu()) continue;
            for (QAction* item : top->menu()->actions())
                if (item->text() == text) return item;
        }
        return nullptr;
    }

    std::unique_ptr<TempEnv> env;
    std::unique_ptr<QtPlatform> platform;
    std::unique_ptr<CBootloaderZLDlg> dlg;
    std::unique_ptr<RecordingCallbacks> callbacks;
    std::unique_ptr<DialogWindow> window;
};

// The group boxes without an id, found by their title.
QGroupBox* GroupTitled(QWidget* window, const QString& title) {
    for (QGroupBox* box : window->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        if (box->title() == title) return box;
    return nullptr;
}

// The widget of a template control: by id, or by title for the group boxes without one.
QWidget* WidgetOf(const Rig& r, const ControlTemplate& t) {
    return t.id >= 0 ? r.W(t.id) : GroupTitled(r.window.get(), ToQString(t.text));
}

// Dialog base units of a font, worked out as Windows does: the base width is half the
// average advance of the 52 Latin letters, rounded up; the base height is the font height.
struct BaseUnits {
    double x, y;
    explicit BaseUnits(const QFont& font) {
        const QFontMetrics fm(font);
        const int letters = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        x = (letters / 26 + 1) / 2;
        y = fm.height();
    }
    int X(int dlu) const { return static_cast<int>(std::lround(dlu * x / 4.0)); }
    int Y(int dlu) const { return static_cast<int>(std::lround(dlu * y / 8.0)); }
};

// Why a control does not show its whole text; empty when it does. A control that holds
// no text, or is hidden, has nothing to show.
QString FitProblem(QWidget* w, const QStringList& extraEntries = {}) {
    if (!w->isVisible()) return {};
    const QFontMetrics fm(w->font());
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        if (button->isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
        const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
        const QSize text = fm.size(Qt::TextShowMnemonic, button->text());
        if (text.width() > contents.width() || text.height() > contents.height())
            return QStringLiteral("button \"%1\": text %2x%3, room %4x%5")
                .arg(button->text())
                .arg(text.width())
                .arg(text.height())
                .arg(contents.width())
                .arg(contents.height());
        return {};
    }
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.textAlignment = box->alignment();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        opt.lineWidth = 1;
        const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
        const int text = fm.horizontalAdvance(box->title());
        if (label.x() + text > box->width() || fm.height() > box->height())
            return QStringLiteral("group \"%1\": title ends at %2 of %3")
                .arg(box->title())
                .arg(label.x() + text)
                .arg(box->width());
        return {};
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // What the edit field can show: its contents less the line edit's own margins.
        const int room = combo->lineEdit()->contentsRect().width() - 2 * 2;
        QStringList entries = extraEntries;
        for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
        for (const QString& entry : entries)
            if (fm.horizontalAdvance(entry) > room)
                return QStringLiteral("combo entry \"%1\": %2 px, room %3").arg(entry).arg(fm.horizontalAdvance(entry)).arg(room);
        return {};
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty()) return {};
        const QRect room = label->contentsRect();
        const int flags = static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect text = fm.boundingRect(room, flags, label->text());
        if (!room.contains(text))
            return QStringLiteral("label \"%1\": text %2, room %3")
                .arg(label->text())
                .arg(QStringLiteral("%1,%2 %3x%4").arg(text.x()).arg(text.y()).arg(text.width()).arg(text.height()))
                .arg(QStringLiteral("%1,%2 %3x%4").arg(room.x()).arg(room.y()).arg(room.width()).arg(room.height()));
        return {};
    }
    return {};
}

// Waits (bounded) for the open file dialog and answers it with path.
class FileDialogAnswer : public QObject {
public:
    explicit FileDialogAnswer(QString path) : path_(std::move(path)) {
        // The path is typed into the name line, as a user would: selectFile() leaves the
        // selection empty while the dialog still reads the file's folder.
        connect(&timer_, &QTimer::timeout, this, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog) {
                if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) name->setText(path_);
                else dialog->selectFile(path_);
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
                answered = true;
            } else if (answered || ++polls_ > 1000) {
                timer_.stop();
            }
        });
        timer_.start(10);
    }
    bool answered = false;

private:
    QString path_;
    QTimer timer_;
    int polls_ = 0;
};

}  // namespace

// Rows of the tests that run in each start-up language.
static void BothLanguages() {
    QTest::addColumn<bool>("english");
    QTest::newRow("de") << false;
    QTest::newRow("en") << true;
}

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    // Each control of template 102 against what the model holds for it.
    void CompareWithModel(const Rig& r, bool shown) {
        for (const ControlTemplate& t : MainDialogTemplate().controls) {
            if (t.id < 0) continue;
            QWidget* w = r.W(t.id);
            QVERIFY2(w, qPrintable(QStringLiteral("no widget for id %1").arg(t.id)));
            const ControlState st = r.dlg->m_controls.Get(t.id);
            const QByteArray what = QByteArray::number(t.id);
            QVERIFY2(w->accessibleDescription().startsWith(QString::number(t.id) + QLatin1Char(' ')), what);
            switch (t.kind) {
                case ControlKind::Static: {
                    auto* label = qobject_cast<QLabel*>(w);
                    QVERIFY2(label, what);
                    QCOMPARE(label->text(), DisplayText(st.text));
                    break;
                }
                case ControlKind::Button:
                case ControlKind::DefButton: {
                    auto* button = qobject_cast<QPushButton*>(w);
                    QVERIFY2(button, what);
                    QCOMPARE(button->text(), ToQString(st.text));
                    break;
                }
                case ControlKind::GroupBox: {
                    auto* box = qobject_cast<QGroupBox*>(w);
                    QVERIFY2(box, what);
                    QCOMPARE(box->title(), ToQString(st.text));
                    break;
                }
                case ControlKind::ComboBox: {
                    auto* combo = qobject_cast<ComboBox*>(w);
                    QVERIFY2(combo, what);
                    QCOMPARE(combo->count(), static_cast<int>(st.entries.size()));
                    for (int i = 0; i < combo->count(); ++i) {
                        QCOMPARE(combo->itemText(i), ToQString(st.entries[i].text));
                        QCOMPARE(combo->itemData(i, Qt::ToolTipRole).toString(), ToQString(st.entries[i].tip));
                    }
                    QCOMPARE(combo->currentIndex(), st.cursel);
                    QVERIFY2(combo->lineEdit(), what);
                    QCOMPARE(combo->lineEdit()->text(), ToQString(st.text));
                    break;
                }
                case ControlKind::Progress: {
                    auto* bar = qobject_cast<QProgressBar*>(w);
                    QVERIFY2(bar, what);
                    QCOMPARE(bar->minimum(), st.lo);
                    QCOMPARE(bar->maximum(), st.hi);
                    QCOMPARE(bar->value(), st.pos);
                    break;
                }
                case ControlKind::Icon: break;
            }
            QVERIFY2((shown ? w->isVisible() : !w->isHidden()) == st.visible, what);
            QVERIFY2(w->isEnabled() == st.enabled, what);
        }
    }

    // Every visible control of the window shows its whole text.
    void CheckAllTextsFit(const Rig& r) {
        for (const ControlTemplate& t : MainDialogTemplate().controls) {
            QWidget* w = WidgetOf(r, t);
            QVERIFY2(w, qPrintable(ToQString(t.text)));
            // The Port box must take the widest name a port can have.
            const QStringList extra = t.id == IDC_PORT ? QStringList{QStringLiteral("COM256")} : QStringList{};
            const QString problem = FitProblem(w, extra);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

private slots:
    // After OnInitDialog each widget shows what the model holds, and again once the
    // start-up has run with the first show; the start state is the program's own.
    void controlsMirrorTheModel() {
        Rig r;
        r.Settle();
        CompareWithModel(r, false);
        if (QTest::currentTestFailed()) return;

        // What OnInitDialog changed from the template reached the widgets.
        QVERIFY(!r.W(IDC_READOUT)->isHidden());
        QVERIFY(!r.W(IDC_STOPSTART)->isHidden());
        QVERIFY(!r.W(IDC_COMPARE)->isHidden());
        QVERIFY(r.W(IDC_THREADS)->isHidden());
        QVERIFY(!r.W(IDC_AUTOLOAD_OFF)->isEnabled());
        QVERIFY(r.W(IDC_AUTOLOAD_ON)->isEnabled());
        QVERIFY(!r.W(IDC_DISCONNECT)->isEnabled());
        QVERIFY(!r.W(IDC_READOUT)->isEnabled());
        QCOMPARE(r.window->windowTitle(), ToQString(Text(TextId::WindowTitle, false)));
        QCOMPARE(r.Get<QComboBox>(IDC_DEVICE)->currentText(), QStringLiteral("Corvel 6"));
        QCOMPARE(r.Get<QPushButton>(IDC_STOPSTART)->text(), QStringLiteral("Stop"));
        QAction* german = r.MenuItem(QStringLiteral("&Deutsch"));
        QAction* english = r.MenuItem(QStringLiteral("&English"));
        QVERIFY(german && english);
        QVERIFY(german->isChecked());
        QVERIFY(!english->isChecked());
        QVERIFY(GroupTitled(r.window.get(), QStringLiteral("Status")));
        QVERIFY(GroupTitled(r.window.get(), QStringLiteral("Firmware")));

        QVERIFY(r.Show());
        CompareWithModel(r, true);
        if (QTest::currentTestFailed()) return;
        QCOMPARE(r.Get<QComboBox>(IDC_PORT)->count(), 0);  // no ports in this environment
        QTRY_COMPARE_WITH_TIMEOUT(r.window->focusWidget(), r.W(IDC_AUTOLOAD_ON), 5000);
    }

    // Every control sits where its template rectangle says, converted with the base
    // units of the dialog font, so the window keeps the template's proportions.
    void layoutKeepsTemplateProportions() {
        Rig r;
        QVERIFY(r.Show());
        const QFont font = r.window->font();
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("DejaVu Sans"));
        const BaseUnits bu(font);
        // An 8-point sans font at 96 dpi.
        QVERIFY2(bu.x >= 5 && bu.x <= 8, qPrintable(QString::number(bu.x)));
        QVERIFY2(bu.y >= 11 && bu.y <= 16, qPrintable(QString::number(bu.y)));

        auto* bar = r.window->findChild<QMenuBar*>();
        QVERIFY(bar);
        const int top = bar->geometry().bottom() + 1;  // the client area starts below the menu bar
        QVERIFY(top > 0);
        const DialogTemplate& dlg = MainDialogTemplate();
        QVERIFY(std::abs(r.window->width() - bu.X(dlg.cx)) <= 1);
        QVERIFY(std::abs(r.window->height() - top - bu.Y(dlg.cy)) <= 1);

        for (const ControlTemplate& t : dlg.controls) {
            QWidget* w = WidgetOf(r, t);
            QVERIFY2(w, qPrintable(ToQString(t.text)));
            const QRect want(bu.X(t.x), top + bu.Y(t.y), bu.X(t.cx), bu.Y(t.cy));
            const QRect got = w->geometry();
            const QByteArray what = QStringLiteral("%1 \"%2\": at %3,%4 %5x%6, template %7,%8 %9x%10")
                                        .arg(t.id)
                                        .arg(ToQString(t.text))
                                        .arg(got.x())
                                        .arg(got.y())
                                        .arg(got.width())
                                        .arg(got.height())
                                        .arg(want.x())
                                        .arg(want.y())
                                        .arg(want.width())
                                        .arg(want.height())
                                        .toUtf8();
            QVERIFY2(std::abs(got.x() - want.x()) <= 1 && std::abs(got.y() - want.y()) <= 1, what.constData());
            QVERIFY2(std::abs(got.width() - want.width()) <= 1, what.constData());
            if (t.kind == ControlKind::ComboBox) {
                // The template's height includes the dropped list; the closed box is
                // lower but no lower than one line of text.
                QVERIFY2(got.height() < want.height() && got.height() >= QFontMetrics(font).height(), what.constData());
            } else {
                QVERIFY2(std::abs(got.height() - want.height()) <= 1, what.constData());
            }
            QVERIFY2(r.window->rect().contains(got), what.constData());
        }

        // The proportions a user sees: the Device box against the Disconnect button,
        // the three group frames of one width, the bottom row evenly spaced.
        const double ratio = double(r.W(IDC_DEVICE)->width()) / r.W(IDC_DISCONNECT)->width();
        QVERIFY2(std::abs(ratio - 107.0 / 40.0) < 0.08, qPrintable(QString::number(ratio)));
        QGroupBox* autoLoad = r.Get<QGroupBox>(IDC_AUTOLOAD_GROUP);
        QCOMPARE(GroupTitled(r.window.get(), QStringLiteral("Status"))->width(), autoLoad->width());
        QCOMPARE(GroupTitled(r.window.get(), QStringLiteral("Firmware"))->width(), autoLoad->width());
        const int gap1 = r.W(IDC_INFO)->x() - r.W(IDC_HELP)->x();
        const int gap2 = r.W(IDC_QUIT)->x() - r.W(IDC_INFO)->x();
        QVERIFY(std::abs(gap1 - gap2) <= 1);
        QCOMPARE(r.W(IDC_HELP)->y(), r.W(IDC_QUIT)->y());

        // The controls of each group lie inside its frame.
        const std::vector<std::pair<QWidget*, std::vector<int>>> groups = {
            {GroupTitled(r.window.get(), QStringLiteral("Status")), {IDC_PORT_LABEL, IDC_PORT, IDC_STATUS, IDC_PROGRESS, IDC_THREADS}},
            {autoLoad, {IDC_PATH_LABEL, IDC_AUTOLOAD_PATH, IDC_AUTOLOAD_ON, IDC_AUTOLOAD_OFF}},
            {GroupTitled(r.window.get(), QStringLiteral("Firmware")), {IDC_FW_LEFT, IDC_FW_RIGHT, IDC_FW_RESULT, IDC_READOUT, IDC_COMPARE}},
        };
        for (const auto& [group, ids] : groups) {
            QVERIFY(group);
            for (int id : ids)
                QVERIFY2(group->geometry().contains(r.W(id)->geometry()), qPrintable(QString::number(id)));
        }
    }

    void textsFitAndScreenshot_data() { BothLanguages(); }

    // In either start-up language no control cuts its text; the window's picture goes
    // to the build folder for a look.
    void textsFitAndScreenshot() {
        QFETCH(bool, english);
        Rig r(english);
        QVERIFY(r.Show());
        QCOMPARE(r.Get<QPushButton>(IDC_HELP)->text(), ToQString(Text(TextId::HelpButton, english)));
        CheckAllTextsFit(r);

        const QPixmap shot = r.window->grab();
        QCOMPARE(shot.size(), r.window->size() * shot.devicePixelRatio());
        QVERIFY(QDir().mkpath(QStringLiteral(BZL_SCREENSHOT_DIR)));
        const QString path = QStringLiteral(BZL_SCREENSHOT_DIR "/main-%1.png").arg(english ? "en" : "de");
        QVERIFY2(shot.save(path), qPrintable(path));
    }

    void programTextsFit_data() { BothLanguages(); }

    // The texts the program puts into the status line, the Firmware panels and the
    // Stop/Start button while it runs fit there too.
    void programTextsFit() {
        QFETCH(bool, english);
        Rig r(english);
        QVERIFY(r.Show());
        // An HCS device's answer as the Firmware panel shows it.
        const std::u16string answer = u"BOOT" + std::u16string(22, u'-') + u"ZL418NRDV 1.23  12.05.24";
        const HcsView hcs = ShowHcs(answer, english);
        QVERIFY(hcs.setLeft);
        const std::vector<std::pair<int, std::u16string>> texts = {
            {IDC_STATUS, Text(TextId::StatusSearching, english)},
            {IDC_STATUS, Text(TextId::StatusConnected, english)},
            {IDC_STATUS, Text(TextId::StatusLoadToFlash, english)},
            {IDC_STATUS, Text(TextId::StatusFlashToChip, english)},
            {IDC_STATUS, Text(TextId::StatusLoadHcs, english)},
            {IDC_STATUS, Text(TextId::StatusReadout, english)},
            {IDC_STATUS, Text(TextId::StatusVerify, english)},
            {IDC_STATUS, Text(TextId::StatusStopped, english)},
            {IDC_FW_LEFT, Text(TextId::NoDevice, english)},
            {IDC_FW_LEFT, hcs.left},
            {IDC_FW_RIGHT, Text(TextId::NoFirmwareLoadedPanel, true)},
            {IDC_FW_RESULT, Text(TextId::PreviousUpdateOk, true)},
            {IDC_FW_RESULT, Text(TextId::PreviousUpdateError, true) + u"7"},
            {IDC_STOPSTART, Text(TextId::StartButton, english)},
            {IDC_AUTOLOAD_PATH, Text(TextId::AutoLoadPathOff, english)},
        };
        for (const auto& [id, text] : texts) {
            r.dlg->m_controls.SetWindowText(id, text);
            r.Settle();
            QCOMPARE(r.ModelText(id), ToQString(text));
            const QString problem = FitProblem(r.W(id));
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    // The items of the language menu rewrite the widgets' texts, both ways, move the
    // radio mark and are remembered in the profile.
    void menuSwitchesLanguage() {
        Rig r;
        QVERIFY(r.Show());
        QAction* german = r.MenuItem(QStringLiteral("&Deutsch"));
        QAction* english = r.MenuItem(QStringLiteral("&English"));
        QVERIFY(german && english);

        struct Shown {
            int id;
            TextId key;
        };
        const std::vector<Shown> shown = {
            {IDC_DEVICE_LABEL, TextId::DeviceLabel}, {IDC_PATH_LABEL, TextId::PathLabel},  {IDC_AUTOLOAD_PATH, TextId::AutoLoadPathOff},
            {IDC_AUTOLOAD_ON, TextId::AutoLoadOn},   {IDC_HELP, TextId::HelpButton},       {IDC_QUIT, TextId::QuitButton},
            {IDC_COMPARE, TextId::CompareButton},    {IDC_DISCONNECT, TextId::DisconnectButton}, {IDC_FW_LEFT, TextId::NoDevice},
        };
        auto textOf = [&](int id) -> QString {
            if (auto* label = r.Get<QLabel>(id)) return label->text();
            if (auto* button = r.Get<QPushButton>(id)) return button->text();
            return {};
        };
        auto check = [&](bool en) {
            for (const Shown& s : shown) QCOMPARE(textOf(s.id), ToQString(Text(s.key, en)));
            QCOMPARE(r.Get<QGroupBox>(IDC_AUTOLOAD_GROUP)->title(), ToQString(Text(TextId::AutoLoadGroup, en)));
            QCOMPARE(english->isChecked(), en);
            QCOMPARE(german->isChecked(), !en);
            QCOMPARE(r.ProfileValue("PrevLang"), std::string(en ? "1" : "0"));
            // The texts that are the same in both languages stay.
            QCOMPARE(r.window->windowTitle(), ToQString(Text(TextId::WindowTitle, false)));
            QCOMPARE(r.Get<QPushButton>(IDC_STOPSTART)->text(), QStringLiteral("Stop"));
        };

        QCOMPARE(textOf(IDC_DEVICE_LABEL), QStringLiteral("Ger\u00e4t:"));
        english->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(textOf(IDC_HELP), QStringLiteral("Help..."), 5000);
        check(true);
        if (QTest::currentTestFailed()) return;

        german->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(textOf(IDC_HELP), QStringLiteral("Hilfe..."), 5000);
        check(false);
    }

    // The path line never shows more than its 201 dialog units hold in the real font:
    // a long path chosen in the file dialog, then paths of many shapes through the
    // program's own shortening with the widget's measure.
    void autoLoadPathFitsItsLine() {
        Rig r;
        QVERIFY(r.Show());
        auto* line = r.Get<QLabel>(IDC_AUTOLOAD_PATH);
        QVERIFY(line);
        const QFontMetrics fm(line->font());
        QCOMPARE(line->width(), BaseUnits(r.window->font()).X(201));

        const std::string dir = r.env->dir() + "/Firmware-Archiv/Kundenprojekte 2024/Hallwyn Ger\u00e4te/Corvel-Serie/Freigaben";
        std::filesystem::create_directories(dir);
        const std::string file = dir + "/corvel6_v1.23.spic32";
        std::ofstream(file) << "x";
        const QString full = QString::fromStdString(file);
        QVERIFY(fm.horizontalAdvance(full) > line->width());  // else there is nothing to shorten

        {
            FileDialogAnswer answer(full);
            QTest::mouseClick(r.W(IDC_AUTOLOAD_ON), Qt::LeftButton);
            QVERIFY(answer.answered);
        }
        r.Settle();
        QCOMPARE(ToQString(r.dlg->m_strAutoLoadPath.Get()), full);
        const QString shown = line->text();
        QCOMPARE(shown, r.ModelText(IDC_AUTOLOAD_PATH));
        QVERIFY2(fm.horizontalAdvance(shown) <= line->width(),
                 qPrintable(QStringLiteral("%1: %2 > %3").arg(shown).arg(fm.horizontalAdvance(shown)).arg(line->width())));
        QVERIFY2(shown.startsWith(QLatin1Char('/')) && shown.contains(QStringLiteral("...")) &&
                     shown.endsWith(QStringLiteral("/Freigaben/corvel6_v1.23.spic32")),
                 qPrintable(shown));
        QVERIFY(!r.W(IDC_AUTOLOAD_ON)->isEnabled());
        QVERIFY(r.W(IDC_AUTOLOAD_OFF)->isEnabled());

        // A path that fits is shown whole.
        std::u16string small = u"/fw/zl.sx";
        FitPathToControl(IDC_AUTOLOAD_PATH, r.dlg.get(), small);
        QCOMPARE(ToQString(small), QStringLiteral("/fw/zl.sx"));

        // Paths of many shapes: deep and shallow, narrow and wide letters, long
        // directory or file names, no separator at all.
        const std::vector<std::u16string> pieces = {u"i", u"l1", u"WWW", u"Ger\u00e4te", u"firmware", u"MMMMMMMMMMMM",
                                                    u"a b c", u"release-candidate-2024-05"};
        int tried = 0;
        for (size_t depth = 0; depth <= 12; ++depth) {
            for (size_t p = 0; p < pieces.size(); ++p) {
                for (int form = 0; form < 3; ++form) {
                    std::u16string path = form == 2 ? u"" : u"/";
                    for (size_t d = 0; d < depth; ++d) path += pieces[(p + d) % pieces.size()] + (form == 2 ? u"" : u"/");
                    path += form == 1 ? pieces[p] + pieces[p] + pieces[p] + pieces[p] + pieces[p] + pieces[p] + u".spic32"
                                      : pieces[p] + u".sx";
                    const std::u16string original = path;
                    FitPathToControl(IDC_AUTOLOAD_PATH, r.dlg.get(), path);
                    const QString text = ToQString(path);
                    QVERIFY2(fm.horizontalAdvance(text) <= line->width(),
                             qPrintable(QStringLiteral("%1 -> %2: %3 px > %4")
                                            .arg(ToQString(original), text)
                                            .arg(fm.horizontalAdvance(text))
                                            .arg(line->width())));
                    if (fm.horizontalAdvance(ToQString(original)) <= line->width()) QCOMPARE(text, ToQString(original));
                    ++tried;
                }
            }
        }
        QVERIFY(tried > 200);
    }

    // A choice the user makes in the Device box reaches the dialog: with the list
    // (open, choose, close, in that order) and with the arrow keys on the closed box.
    void userSelectionReachesHandler() {
        Rig r;
        QVERIFY(r.Show());
        auto* combo = r.Get<ComboBox>(IDC_DEVICE);
        QVERIFY(combo);
        QCOMPARE(combo->currentIndex(), 0);
        r.dlg->m_strAutoLoadPath.Set(u"/fw/corvel.spic32");  // a device change switches Auto-Load off
        r.callbacks->commands.clear();

        combo->showPopup();
        QTRY_VERIFY_WITH_TIMEOUT(combo->view()->isVisible(), 5000);
        QCOMPARE(r.callbacks->CodesFor(IDC_DEVICE), QList<int>{CBN_DROPDOWN});
        QCOMPARE(int(r.dlg->m_bDeviceListOpen.load()), 1);
        QTest::keyClick(combo->view(), Qt::Key_Down);
        QTest::keyClick(combo->view(), Qt::Key_Down);
        QTest::keyClick(combo->view(), Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(r.callbacks->CodesFor(IDC_DEVICE).size(), qsizetype(3), 5000);
        QCOMPARE(r.callbacks->CodesFor(IDC_DEVICE), (QList<int>{CBN_DROPDOWN, CBN_SELCHANGE, CBN_CLOSEUP}));
        QVERIFY(!combo->view()->isVisible());
        QCOMPARE(r.dlg->m_controls.GetCurSel(IDC_DEVICE), 2);
        QCOMPARE(combo->currentText(), QStringLiteral("Linkbox K7/9"));
        QCOMPARE(r.ProfileValue("PrevDevice"), std::string("2"));
        QCOMPARE(int(r.dlg->m_bDeviceListOpen.load()), 0);
        QVERIFY(r.dlg->m_strAutoLoadPath.Empty());

        // The arrow keys on the closed box change the selection without a list.
        r.callbacks->commands.clear();
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Up);
        QTRY_COMPARE_WITH_TIMEOUT(r.dlg->m_controls.GetCurSel(IDC_DEVICE), 1, 5000);
        QCOMPARE(r.callbacks->CodesFor(IDC_DEVICE), QList<int>{CBN_SELCHANGE});
        QCOMPARE(combo->currentText(), QStringLiteral("ZL418 Nord"));
    }

    // What the program itself does to the combo boxes (selection, entries) shows in
    // the widgets but reaches no handler.
    void programChangesAreNotReported() {
        Rig r;
        QVERIFY(r.Show());
        auto* device = r.Get<ComboBox>(IDC_DEVICE);
        auto* port = r.Get<ComboBox>(IDC_PORT);
        QVERIFY(device && port);
        r.dlg->m_strAutoLoadPath.Set(u"/fw/corvel.spic32");
        const std::string prevDevice = r.ProfileValue("PrevDevice");
        r.callbacks->commands.clear();

        r.dlg->m_controls.SetCurSel(IDC_DEVICE, 3);
        QTRY_COMPARE_WITH_TIMEOUT(device->currentIndex(), 3, 5000);
        QCOMPARE(device->currentText(), QStringLiteral("Pallas 2c/3c"));
        r.dlg->m_controls.AddString(IDC_PORT, u"COM7");
        r.dlg->m_controls.AddString(IDC_PORT, u"COM9");
        r.dlg->m_controls.SetCurSel(IDC_PORT, 1);
        QTRY_COMPARE_WITH_TIMEOUT(port->currentText(), QStringLiteral("COM9"), 5000);
        r.dlg->m_controls.DeleteString(IDC_PORT, 0);
        r.dlg->m_controls.SetCurSel(IDC_PORT, -1);
        QTRY_COMPARE_WITH_TIMEOUT(port->count(), 1, 5000);
        QCOMPARE(port->currentIndex(), -1);
        QTest::qWait(100);  // room for a notification posted to the event queue

        QVERIFY(r.callbacks->commands.empty());
        QCOMPARE(r.dlg->m_controls.GetCurSel(IDC_DEVICE), 3);
        QCOMPARE(ToQString(r.dlg->m_strAutoLoadPath.Get()), QStringLiteral("/fw/corvel.spic32"));
        QCOMPARE(r.ProfileValue("PrevDevice"), prevDevice);
    }
};

}  // namespace zl::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zl::test::MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
