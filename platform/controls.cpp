#include "platform/controls.h"

#include <cstdint>

#include "platform/win32.h"

namespace zl {
namespace {

std::u16string CutAtZero(const std::u16string& text) {
    size_t n = text.find(u'\0');
    return n == std::u16string::npos ? text : text.substr(0, n);
}

char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - u'a' + u'A');
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

}  // namespace

void Controls::Build(const DialogTemplate& dlg, const MenuTemplate* menu) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        controls_.clear();
        ControlState window;
        window.text = dlg.title;
        controls_[kWindowId] = window;
        for (const ControlTemplate& t : dlg.controls) {
            if (t.id < 0) continue;
            ControlState c;
            c.kind = t.kind;
            c.text = t.text;
            c.visible = (t.style & CS_VISIBLE) != 0;
            c.enabled = (t.style & CS_DISABLED) == 0;
            for (const auto& item : t.items) c.entries.push_back({item, {}});
            controls_[t.id] = c;
        }
        menuItems_.clear();
        menuPopup_.clear();
        if (menu) {
            menuPopup_ = menu->popup;
            menuItems_ = menu->items;
            for (const MenuItemTemplate& item : menu->items) {
                ControlState c;
                c.kind = ControlKind::Button;
                c.text = item.text;
                controls_[item.command] = c;
            }
        }
        sysMenu_.clear();
        focus_ = -1;
    }
}

ControlState* Controls::Find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const ControlState* Controls::Find(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

bool Controls::Exists(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return Find(id) != nullptr;
}

ControlState Controls::Get(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c ? *c : ControlState{};
}

std::vector<int> Controls::Ids() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> ids;
    for (const auto& [id, c] : controls_) ids.push_back(id);
    return ids;
}

void Controls::Notify(int id) {
    // Held while the listener runs, so that a view that removes its listener knows that
    // no call into it is still under way when SetListener returns.
    std::lock_guard<std::recursive_mutex> lock(listenerMutex_);
    if (listener_) listener_(id);
}

std::unique_lock<std::recursive_mutex> Controls::ChangeInOrder() {
    return std::unique_lock<std::recursive_mutex>(listenerMutex_);
}

void Controls::SetListener(Listener listener) {
    std::lock_guard<std::recursive_mutex> lock(listenerMutex_);
    listener_ = std::move(listener);
}

void Controls::SetWindowText(int id, const std::u16string& text) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return;
        c->text = CutAtZero(text);
    }
    Notify(id);
}

std::u16string Controls::GetWindowText(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c ? c->text : std::u16string();
}

void Controls::EnableWindow(int id, bool enable) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c || c->enabled == enable) return;
        c->enabled = enable;
    }
    Notify(id);
}

bool Controls::IsWindowEnabled(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c && c->enabled;
}

void Controls::ShowWindow(int id, bool show) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c || c->visible == show) return;
        c->visible = show;
    }
    Notify(id);
}

bool Controls::IsWindowVisible(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c && c->visible;
}

void Controls::SetFocus(int id) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        focus_ = id;
    }
    Notify(id);
}

int Controls::GetFocus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return focus_;
}

int Controls::GetCount(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c ? static_cast<int>(c->entries.size()) : CB_ERR;
}

int Controls::AddString(int id, const std::u16string& text) {
    const auto order = ChangeInOrder();
    int index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return CB_ERR;
        c->entries.push_back({CutAtZero(text), {}});
        index = static_cast<int>(c->entries.size()) - 1;
    }
    Notify(id);
    return index;
}

int Controls::DeleteString(int id, int index) {
    const auto order = ChangeInOrder();
    int remaining;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c || index < 0 || index >= static_cast<int>(c->entries.size())) return CB_ERR;
        c->entries.erase(c->entries.begin() + index);
        if (c->cursel == index)
            c->cursel = -1;  // the edit field keeps its text, as a drop-down combo box does
        else if (c->cursel > index)
            --c->cursel;
        remaining = static_cast<int>(c->entries.size());
    }
    Notify(id);
    return remaining;
}

int Controls::FindStringExact(int id, int start, const std::u16string& text) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    if (!c) return CB_ERR;
    const int n = static_cast<int>(c->entries.size());
    if (n == 0) return CB_ERR;
    const int first = (start < 0 || start >= n) ? 0 : start + 1;
    const std::u16string wanted = CutAtZero(text);
    for (int k = 0; k < n; ++k) {
        int i = (first + k) % n;
        if (EqualNoCase(c->entries[i].text, wanted)) return i;
    }
    return CB_ERR;
}

int Controls::SetCurSel(int id, int index) {
    const auto order = ChangeInOrder();
    int result;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return CB_ERR;
        if (index < 0 || index >= static_cast<int>(c->entries.size())) {
            c->cursel = -1;
            c->text.clear();
            result = CB_ERR;
        } else {
            c->cursel = index;
            c->text = c->entries[index].text;
            result = index;
        }
    }
    Notify(id);
    return result;
}

int Controls::GetCurSel(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c ? c->cursel : CB_ERR;
}

std::u16string Controls::GetLBText(int id, int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->entries.size())) return {};
    return c->entries[index].text;
}

void Controls::SetItemTip(int id, int index, const std::u16string& tip) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c || index < 0 || index >= static_cast<int>(c->entries.size())) return;
        c->entries[index].tip = tip;
    }
    Notify(id);
}

void Controls::SetEditText(int id, const std::u16string& text) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return;
        c->text = CutAtZero(text);
    }
    Notify(id);
}

void Controls::SetRange(int id, int lo, int hi) {
    const auto order = ChangeInOrder();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return;
        // PBM_SETRANGE carries both bounds as unsigned 16-bit words.
        c->lo = static_cast<uint16_t>(lo);
        c->hi = static_cast<uint16_t>(hi);
        if (c->pos < c->lo) c->pos = c->lo;
        if (c->pos > c->hi) c->pos = c->hi;
    }
    Notify(id);
}

int Controls::SetPos(int id, int pos) {
    const auto order = ChangeInOrder();
    int previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return 0;
        previous = c->pos;
        if (pos < c->lo) pos = c->lo;
        if (pos > c->hi) pos = c->hi;
        c->pos = pos;
    }
    Notify(id);
    return previous;
}

int Controls::GetPos(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(id);
    return c ? c->pos : 0;
}

int Controls::SetStep(int id, int step) {
    std::lock_guard<std::mutex> lock(mutex_);
    ControlState* c = Find(id);
    if (!c) return 0;
    int previous = c->step;
    c->step = step;
    return previous;
}

int Controls::StepIt(int id) {
    const auto order = ChangeInOrder();
    int previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ControlState* c = Find(id);
        if (!c) return 0;
        previous = c->pos;
        int pos = c->pos + c->step;
        // Past the maximum the bar starts over from the beginning of its range.
        if (pos > c->hi) pos = c->lo;
        if (pos < c->lo) pos = c->lo;
        c->pos = pos;
    }
    Notify(id);
    return previous;
}

void Controls::CheckMenuRadioItem(int first, int last, int check) {
    const auto order = ChangeInOrder();
    std::vector<int> changed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int i = first; i <= last && i < static_cast<int>(menuItems_.size()); ++i) {
            if (i < 0) continue;
            ControlState* c = Find(menuItems_[i].command);
            if (!c) continue;
            c->checked = (i == check);
            changed.push_back(menuItems_[i].command);
        }
    }
    for (int id : changed) Notify(id);
}

bool Controls::IsMenuChecked(int command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const ControlState* c = Find(command);
    return c && c->checked;
}

std::vector<MenuItemTemplate> Controls::MenuItems() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return menuItems_;
}

std::u16string Controls::MenuPopup() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return menuPopup_;
}

void Controls::AppendSysMenu(unsigned command, const std::u16string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sysMenu_.push_back({command, text});
    }
    Notify(kWindowId);
}

std::vector<SysMenuItem> Controls::SysMenu() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sysMenu_;
}

}  // namespace zl
