// The model of a dialog's controls, with the Win32 verbs the dialog logic uses.
// Thread-safe: handlers and worker threads call it from any thread; it never waits
// for the window system. A view (the Qt window) listens for changes.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialog_template.h"

namespace zl {

// Id under which the dialog window itself is kept (its title).
constexpr int kWindowId = 0;

struct ComboEntry {
    std::u16string text;
    std::u16string tip;
};

struct ControlState {
    ControlKind kind = ControlKind::Static;
    std::u16string text;  // window text; for a combo box the text of its edit field
    bool visible = true;
    bool enabled = true;
    bool checked = false;  // menu items
    // Combo box
    std::vector<ComboEntry> entries;
    int cursel = -1;
    // Progress bar (16-bit range as PBM_SETRANGE carries it)
    int lo = 0, hi = 100, pos = 0, step = 10;
};

struct SysMenuItem {
    unsigned command;  // 0 for a separator
    std::u16string text;
};

class Controls {
public:
    using Listener = std::function<void(int id)>;

    // Creates the controls of a template (and the items of its menu, keyed by command).
    void Build(const DialogTemplate& dlg, const MenuTemplate* menu = nullptr);
    bool Exists(int id) const;
    ControlState Get(int id) const;  // a copy, for views and tests
    std::vector<int> Ids() const;

    // Windows
    void SetWindowText(int id, const std::u16string& text);  // cut at the first zero character
    std::u16string GetWindowText(int id) const;
    void EnableWindow(int id, bool enable);
    bool IsWindowEnabled(int id) const;
    void ShowWindow(int id, bool show);
    bool IsWindowVisible(int id) const;
    void SetFocus(int id);
    int GetFocus() const;

    // Combo boxes
    int GetCount(int id) const;
    int AddString(int id, const std::u16string& text);
    int DeleteString(int id, int index);  // remaining count, or CB_ERR
    // First entry after 'start' (wrapping round; -1 searches all from 0) whose whole text
    // equals text, ignoring case; CB_ERR when none.
    int FindStringExact(int id, int start, const std::u16string& text) const;
    int SetCurSel(int id, int index);  // -1 or an index out of range clears the selection
    int GetCurSel(int id) const;
    std::u16string GetLBText(int id, int index) const;
    void SetItemTip(int id, int index, const std::u16string& tip);
    void SetEditText(int id, const std::u16string& text);  // typed by the user; selection unchanged

    // Progress bars
    void SetRange(int id, int lo, int hi);  // each bound taken as a 16-bit value
    int SetPos(int id, int pos);           // previous position; clamped to the range
    int GetPos(int id) const;
    int SetStep(int id, int step);         // previous step
    int StepIt(int id);                    // previous position; past the maximum it starts over

    // Menu: the radio mark among the pop-up's items at positions first..last.
    void CheckMenuRadioItem(int first, int last, int check);
    bool IsMenuChecked(int command) const;
    std::vector<MenuItemTemplate> MenuItems() const;
    std::u16string MenuPopup() const;

    // System menu (shown as the window's context menu)
    void AppendSysMenu(unsigned command, const std::u16string& text);
    std::vector<SysMenuItem> SysMenu() const;

    // Sets (or, with nullptr, removes) the view's listener. Once it returns, the old
    // listener is not running on any thread and will not be called again.
    void SetListener(Listener listener);

private:
    ControlState* Find(int id);
    const ControlState* Find(int id) const;
    void Notify(int id);

    mutable std::mutex mutex_;
    std::map<int, ControlState> controls_;
    std::vector<MenuItemTemplate> menuItems_;
    std::u16string menuPopup_;
    std::vector<SysMenuItem> sysMenu_;
    int focus_ = -1;
    // A change holds this until its listener has been told, so that the changes of
    // several threads reach the listener in the order they were made.
    std::unique_lock<std::recursive_mutex> ChangeInOrder();
    std::recursive_mutex listenerMutex_;
    Listener listener_;  // under listenerMutex_
};

}  // namespace zl
