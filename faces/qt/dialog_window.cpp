#include "faces/qt/dialog_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>

#include "faces/qt/combo_box.h"
#include "faces/qt/text_display.h"
#include "faces/qt/toolkit_language.h"
#include "platform/win32.h"
#include "res/resources.h"

namespace zl {
namespace {

QString ToQString(const std::u16string& s) { return QString::fromStdU16String(s); }

// Windows rounds dialog units with MulDiv.
int MulDiv(int a, int b, int c) { return (a * b * 2 + c) / (2 * c); }

}  // namespace

DialogWindow::DialogWindow(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                           DialogCallbacks* callbacks, std::function<void()> onShow, QWidget* parent)
    : QDialog(parent), controls_(controls), callbacks_(callbacks), onShow_(std::move(onShow)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowSystemMenuHint);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(dlg.pointSize);
    setFont(font);
    const QFontMetrics fm(font);
    avgWidth_ = (fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 26 + 1) / 2;
    charHeight_ = fm.height();
    Build(dlg, menu);
    controls_.SetListener([this](int id) { MarkDirty(id); });
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (callbacks_) callbacks_->OnTimer(timerId_);
    });
}

DialogWindow::~DialogWindow() { controls_.SetListener(nullptr); }

int DialogWindow::X(int dlu) const { return MulDiv(dlu, avgWidth_, 4); }
int DialogWindow::Y(int dlu) const { return MulDiv(dlu, charHeight_, 8); }

void DialogWindow::BuildMenu(const MenuTemplate& menu, int width) {
    auto* bar = new QMenuBar(this);
    QMenu* popup = bar->addMenu(ToQString(menu.popup));
    auto* group = new QActionGroup(this);
    group->setExclusive(true);
    for (const MenuItemTemplate& item : menu.items) {
        QAction* action = popup->addAction(ToQString(item.text));
        action->setCheckable(true);
        group->addAction(action);
        menuActions_.insert(item.command, action);
        const int command = item.command;
        connect(action, &QAction::triggered, this, [this, command] {
            Apply(command);  // the mark follows the model, not the click
            if (callbacks_) callbacks_->OnCommand(command, 0);
        });
    }
    menuHeight_ = bar->sizeHint().height();
    bar->setGeometry(0, 0, width, menuHeight_);
}

// The widget of one control of the template, wired to the callbacks; nullptr for a kind
// this face does not draw.
QWidget* DialogWindow::MakeControl(const ControlTemplate& t, const QRect& rect) {
    switch (t.kind) {
        case ControlKind::Static: {
            auto* label = new QLabel(this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(((t.style & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
            label->setWordWrap(t.cy > 8);
            label->setText(DisplayText(t.text));
            return label;
        }
        case ControlKind::Button:
        case ControlKind::DefButton: {
            auto* button = new QPushButton(ToQString(t.text), this);
            button->setDefault(t.kind == ControlKind::DefButton);
            const int id = t.id;
            connect(button, &QPushButton::clicked, this, [this, id] {
                if (id == IDOK && !callbacks_) return accept();
                if (callbacks_) callbacks_->OnCommand(id, BN_CLICKED);
            });
            return button;
        }
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(ToQString(t.text), this);
            box->lower();
            return box;
        }
        case ControlKind::ComboBox: {
            auto* combo = new ComboBox(this);
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            for (const auto& item : t.items) combo->addItem(ToQString(item));
            combo->setCurrentIndex(-1);
            const int id = t.id;
            combo->onDropDown = [this, id] {
                if (callbacks_) callbacks_->OnCommand(id, CBN_DROPDOWN);
            };
            combo->onCloseUp = [this, id] {
                if (callbacks_) callbacks_->OnCommand(id, CBN_CLOSEUP);
            };
            connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                    [this, id](int index) { UserSelected(id, index); });
            connect(combo->lineEdit(), &QLineEdit::textEdited, this,
                    [this, id](const QString& text) { controls_.SetEditText(id, text.toStdU16String()); });
            // The template's height includes the dropped list.
            combo->setGeometry(rect.x(), rect.y(), rect.width(), combo->sizeHint().height());
            return combo;
        }
        case ControlKind::Progress: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            bar->setRange(0, 100);
            bar->setValue(0);
            return bar;
        }
        case ControlKind::Icon: {
            auto* icon = new QLabel(this);
            icon->setPixmap(QIcon(QStringLiteral(":/bootloaderzl/icon.png")).pixmap(32, 32));
            icon->setGeometry(rect.x(), rect.y(), 32, 32);
            return icon;
        }
    }
    return nullptr;
}

void DialogWindow::Build(const DialogTemplate& dlg, const MenuTemplate* menu) {
    if (menu) BuildMenu(*menu, X(dlg.cx));
    setFixedSize(X(dlg.cx), Y(dlg.cy) + menuHeight_);

    for (const ControlTemplate& t : dlg.controls) {
        const QRect rect(X(t.x), Y(t.y) + menuHeight_, X(t.cx), Y(t.cy));
        QWidget* w = MakeControl(t, rect);
        if (!w) continue;
        if (t.kind != ControlKind::ComboBox && t.kind != ControlKind::Icon) w->setGeometry(rect);
        w->setVisible((t.style & CS_VISIBLE) != 0);
        w->setEnabled((t.style & CS_DISABLED) == 0);
        if (t.id >= 0) {
            widgets_.insert(t.id, w);
            kinds_.insert(t.id, t.kind);
            w->setAccessibleDescription(dlg.id == IDD_ABOUTBOX && t.id == IDC_ABOUT_SUMMARY
                                            ? QStringLiteral("1012 Bootloader summary")
                                            : ControlDescription(t.id));
        }
    }
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &DialogWindow::ShowContextMenu);
    for (int id : controls_.Ids()) Apply(id);
}

void DialogWindow::showEvent(QShowEvent* event) {
    if (onShow_) onShow_();
    for (int id : controls_.Ids()) Apply(id);
    QDialog::showEvent(event);
    if (!shown_) {
        shown_ = true;
        if (callbacks_) callbacks_->OnShowWindow(true, 0);
    }
}

void DialogWindow::accept() {
    if (callbacks_ && !callbacks_->OnClose()) return;
    QDialog::accept();
}

void DialogWindow::reject() {
    if (callbacks_ && !callbacks_->OnClose()) return;
    QDialog::reject();
}

void DialogWindow::StartTimer(unsigned id, unsigned ms) {
    timerId_ = id;
    timer_.start(static_cast<int>(ms));
}

void DialogWindow::MarkDirty(int id) {
    std::lock_guard<std::mutex> lock(dirtyMutex_);
    dirty_.insert(id);
    if (flushQueued_) return;
    flushQueued_ = true;
    QMetaObject::invokeMethod(this, "Flush", Qt::QueuedConnection);
}

void DialogWindow::Flush() {
    QSet<int> ids;
    {
        std::lock_guard<std::mutex> lock(dirtyMutex_);
        ids.swap(dirty_);
        flushQueued_ = false;
    }
    for (int id : ids) Apply(id);
}

void DialogWindow::Apply(int id) {
    const ControlState st = controls_.Get(id);
    if (id == kWindowId) {
        setWindowTitle(ToQString(st.text));
        return;
    }
    if (QAction* action = menuActions_.value(id, nullptr)) {
        QSignalBlocker block(action);
        action->setChecked(st.checked);
        if (st.checked && (id == ID_LANGUAGE_GERMAN || id == ID_LANGUAGE_ENGLISH)) SetToolkitLanguage(id == ID_LANGUAGE_GERMAN);
        return;
    }
    QWidget* w = widgets_.value(id, nullptr);
    if (!w) return;
    applying_ = true;
    switch (kinds_.value(id)) {
        case ControlKind::Static:
            static_cast<QLabel*>(w)->setText(DisplayText(st.text));
            break;
        case ControlKind::Button:
        case ControlKind::DefButton:
            static_cast<QPushButton*>(w)->setText(ToQString(st.text));
            break;
        case ControlKind::GroupBox:
            static_cast<QGroupBox*>(w)->setTitle(ToQString(st.text));
            break;
        case ControlKind::ComboBox: {
            auto* combo = static_cast<QComboBox*>(w);
            QSignalBlocker block(combo);
            bool same = combo->count() == static_cast<int>(st.entries.size());
            for (int i = 0; same && i < combo->count(); ++i) same = combo->itemText(i) == ToQString(st.entries[i].text);
            if (!same) {
                combo->clear();
                for (const ComboEntry& e : st.entries) combo->addItem(ToQString(e.text));
            }
            for (int i = 0; i < combo->count(); ++i)
                combo->setItemData(i, ToQString(st.entries[i].tip), Qt::ToolTipRole);
            if (combo->currentIndex() != st.cursel) combo->setCurrentIndex(st.cursel);
            if (combo->lineEdit() && combo->lineEdit()->text() != ToQString(st.text)) combo->lineEdit()->setText(ToQString(st.text));
            break;
        }
        case ControlKind::Progress: {
            auto* bar = static_cast<QProgressBar*>(w);
            bar->setRange(st.lo, st.hi);
            bar->setValue(st.pos);
            break;
        }
        case ControlKind::Icon:
            break;
    }
    w->setVisible(st.visible);
    w->setEnabled(st.enabled);
    if (controls_.GetFocus() == id && w->isEnabled()) w->setFocus();
    applying_ = false;
}

void DialogWindow::UserSelected(int id, int index) {
    if (applying_) return;
    controls_.SetCurSel(id, index);
    if (callbacks_) callbacks_->OnCommand(id, CBN_SELCHANGE);
}

void DialogWindow::ShowContextMenu(const QPoint& pos) {
    const std::vector<SysMenuItem> items = controls_.SysMenu();
    if (items.empty() || !callbacks_) return;
    QMenu menu(this);
    for (const SysMenuItem& item : items) {
        if (item.command == 0) {
            menu.addSeparator();
            continue;
        }
        const unsigned command = item.command;
        menu.addAction(ToQString(item.text), this, [this, command] { callbacks_->OnSysCommand(command); });
    }
    menu.exec(mapToGlobal(pos));
}

}  // namespace zl
