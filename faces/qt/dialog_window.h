// A dialog window built from a template, mirroring a controls model. Changes to the
// model may come from any thread; they are applied on the user-interface thread.
#pragma once

#include <QDialog>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <functional>
#include <mutex>

#include "platform/controls.h"
#include "platform/dialog_template.h"
#include "platform/platform.h"

class QAction;
class QMenuBar;

namespace zl {

class DialogWindow : public QDialog {
    Q_OBJECT
public:
    // callbacks may be null (the About boxes); onShow runs at every show event.
    DialogWindow(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls, DialogCallbacks* callbacks,
                 std::function<void()> onShow, QWidget* parent = nullptr);
    ~DialogWindow() override;

    void StartTimer(unsigned id, unsigned ms);
    QWidget* Widget(int id) const { return widgets_.value(id, nullptr); }
    // Pixels of dialog units in this window's font.
    int X(int dlu) const;
    int Y(int dlu) const;
    int AverageCharWidth() const { return avgWidth_; }

    // Enter, Esc and the window's Close end the main dialog only when it agrees.
    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void Flush();

private:
    void Build(const DialogTemplate& dlg, const MenuTemplate* menu);
    void BuildMenu(const MenuTemplate& menu, int width);
    QWidget* MakeControl(const ControlTemplate& t, const QRect& rect);
    void MarkDirty(int id);
    void Apply(int id);
    void ShowContextMenu(const QPoint& pos);
    void UserSelected(int id, int index);

    Controls& controls_;
    DialogCallbacks* callbacks_;
    std::function<void()> onShow_;
    bool shown_ = false;
    int avgWidth_ = 6;
    int charHeight_ = 13;
    int menuHeight_ = 0;
    QHash<int, QWidget*> widgets_;
    QHash<int, ControlKind> kinds_;
    QHash<int, QAction*> menuActions_;
    QTimer timer_;
    unsigned timerId_ = 0;
    bool applying_ = false;

    std::mutex dirtyMutex_;
    QSet<int> dirty_;
    bool flushQueued_ = false;
};

}  // namespace zl
