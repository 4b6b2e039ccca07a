#include "faces/win32/dialog_window.h"

#include "res/resources.h"
#include "os/win32/win_api.h"

namespace zl::win {
namespace {

HWND H(void* p) { return static_cast<HWND>(p); }

std::wstring WindowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), n + 1)));
    return text;
}

void SetTextIfChanged(HWND hwnd, const std::u16string& text) {
    const std::wstring wanted = Wide(text);
    if (WindowText(hwnd) != wanted) SetWindowTextW(hwnd, wanted.c_str());
}

std::wstring ComboItem(HWND combo, int index) {
    const LRESULT n = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    const LRESULT got = SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == CB_ERR ? 0 : static_cast<size_t>(got));
    return text;
}

}  // namespace

// A tooltip control for a combo box: one tool per entry over the entry's place in the
// drop-down list (placed anew when the list scrolls), and one over the box itself with
// the tip of the chosen entry.
struct ComboTips {
    HWND tooltip = nullptr;
    HWND combo = nullptr;
    HWND list = nullptr;
    std::vector<std::wstring> texts;
    int cursel = -1;
    int top = -1;
    int placed = 0;  // the list's tools now in place

    void PlaceListTools() {
        for (int i = 0; i < placed; ++i) {
            TOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.hwnd = list;
            tool.uId = static_cast<UINT_PTR>(i);
            SendMessageW(tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
        placed = 0;
        top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
        for (int i = 0; i < static_cast<int>(texts.size()); ++i) {
            if (texts[i].empty()) continue;
            TOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.uFlags = TTF_SUBCLASS;
            tool.hwnd = list;
            tool.uId = static_cast<UINT_PTR>(i);
            SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tool.rect));
            tool.lpszText = texts[i].data();
            SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
            placed = i + 1;
        }
    }

    void PlaceBoxTool() {
        TOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = combo;
        tool.uId = reinterpret_cast<UINT_PTR>(combo);
        SendMessageW(tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        if (cursel < 0 || cursel >= static_cast<int>(texts.size()) || texts[cursel].empty()) return;
        tool.lpszText = texts[cursel].data();
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }

    static LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
        const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
        auto* self = reinterpret_cast<ComboTips*>(data);
        if ((msg == WM_MOUSEMOVE || msg == WM_VSCROLL || msg == WM_MOUSEWHEEL || msg == WM_SHOWWINDOW) &&
            static_cast<int>(SendMessageW(hwnd, LB_GETTOPINDEX, 0, 0)) != self->top)
            self->PlaceListTools();
        return result;
    }
};

namespace {

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    auto* self = reinterpret_cast<DialogWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    return self->Message(hwnd, msg, wParam, lParam);
}

}  // namespace

DialogWindow::DialogWindow(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                           DialogCallbacks* callbacks, std::function<void()> onShow)
    : dlg_(dlg), menuTemplate_(menu), controls_(controls), callbacks_(callbacks), onShow_(std::move(onShow)) {}

DialogWindow::~DialogWindow() { controls_.SetListener(nullptr); }

void DialogWindow::ApplyTips(int id, void* control, const ControlState& st) {
    std::vector<std::wstring> texts;
    bool any = false;
    for (const ComboEntry& e : st.entries) {
        texts.push_back(Wide(e.tip));
        any = any || !e.tip.empty();
    }
    auto found = comboTips_.find(id);
    if (found == comboTips_.end()) {
        if (!any) return;
        auto tips = std::make_unique<ComboTips>();
        tips->combo = H(control);
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (!GetComboBoxInfo(tips->combo, &info)) return;
        tips->list = info.hwndList;
        tips->tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, H(hwnd_), nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
        if (!tips->tooltip) return;
        SendMessageW(tips->tooltip, TTM_SETMAXTIPWIDTH, 0, 600);
        SetWindowSubclass(tips->list, &ComboTips::ListProc, 1, reinterpret_cast<DWORD_PTR>(tips.get()));
        found = comboTips_.emplace(id, std::move(tips)).first;
    }
    ComboTips& tips = *found->second;
    if (tips.texts != texts) {
        tips.texts = std::move(texts);
        tips.PlaceListTools();
        tips.cursel = -2;
    }
    if (tips.cursel != st.cursel) {
        tips.cursel = st.cursel;
        tips.PlaceBoxTool();
    }
}

void* DialogWindow::Handle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hwnd_;
}

intptr_t DialogWindow::Run(void* owner) {
    const std::vector<uint16_t> tmpl = BuildDialogTemplate(dlg_, callbacks_ != nullptr);
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()), H(owner),
                                   DialogProc, reinterpret_cast<LPARAM>(this));
}

void DialogWindow::Init() {
    const HWND hwnd = H(hwnd_);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (callbacks_) {
        auto big = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
        auto smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
    }
    if (menuTemplate_) {
        // The menu bar goes on above the client area, which keeps its size.
        RECT client;
        GetClientRect(hwnd, &client);
        HMENU bar = CreateMenu();
        HMENU popup = CreatePopupMenu();
        for (const MenuItemTemplate& item : menuTemplate_->items) {
            const std::wstring text = Wide(item.text);
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STRING;
            info.fType = MFT_STRING | MFT_RADIOCHECK;
            info.wID = static_cast<UINT>(item.command);
            info.dwTypeData = const_cast<wchar_t*>(text.c_str());
            InsertMenuItemW(popup, GetMenuItemCount(popup), TRUE, &info);
        }
        AppendMenuW(bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), Wide(menuTemplate_->popup).c_str());
        SetMenu(hwnd, bar);
        menu_ = bar;
        RECT frame = client;
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)), TRUE,
                           static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
        SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        // A taller window stays centred on the screen.
        RECT now, work;
        GetWindowRect(hwnd, &now);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int x = work.left + ((work.right - work.left) - (now.right - now.left)) / 2;
        const int y = work.top + ((work.bottom - work.top) - (now.bottom - now.top)) / 2;
        SetWindowPos(hwnd, nullptr, x > work.left ? x : work.left, y > work.top ? y : work.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    controls_.SetListener([this](int id) { MarkDirty(id); });
}

void DialogWindow::MarkDirty(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    dirty_.insert(id);
    if (flushQueued_ || !hwnd_) return;
    flushQueued_ = true;
    PostMessageW(H(hwnd_), kMsgFlush, 0, 0);
}

void DialogWindow::Flush() {
    std::set<int> ids;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ids.swap(dirty_);
        flushQueued_ = false;
    }
    for (int id : ids) Apply(id);
}

void DialogWindow::ApplyAll() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dirty_.clear();
    }
    for (int id : controls_.Ids()) Apply(id);
}

void DialogWindow::Apply(int id) {
    const HWND hwnd = H(hwnd_);
    if (!hwnd) return;
    const ControlState st = controls_.Get(id);
    if (id == kWindowId) {
        SetTextIfChanged(hwnd, st.text);
        return;
    }
    if (menuTemplate_ && menu_) {
        for (const MenuItemTemplate& item : menuTemplate_->items) {
            if (item.command != id) continue;
            CheckMenuItem(static_cast<HMENU>(menu_), static_cast<UINT>(id),
                          MF_BYCOMMAND | (st.checked ? MF_CHECKED : MF_UNCHECKED));
            return;
        }
    }
    const HWND control = GetDlgItem(hwnd, id);
    if (!control) return;
    applying_ = true;
    switch (st.kind) {
        case ControlKind::Static:
        case ControlKind::Button:
        case ControlKind::DefButton:
        case ControlKind::GroupBox:
            SetTextIfChanged(control, st.text);
            break;
        case ControlKind::ComboBox: {
            const int count = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
            bool same = count == static_cast<int>(st.entries.size());
            for (int i = 0; same && i < count; ++i) same = ComboItem(control, i) == Wide(st.entries[i].text);
            if (!same) {
                SendMessageW(control, CB_RESETCONTENT, 0, 0);
                for (const ComboEntry& e : st.entries)
                    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(e.text).c_str()));
            }
            if (static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0)) != st.cursel || !same)
                SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(st.cursel), 0);
            SetTextIfChanged(control, st.text);
            ApplyTips(id, control, st);
            break;
        }
        case ControlKind::Progress:
            SendMessageW(control, PBM_SETRANGE32, static_cast<WPARAM>(st.lo), static_cast<LPARAM>(st.hi));
            SendMessageW(control, PBM_SETPOS, static_cast<WPARAM>(st.pos), 0);
            break;
        case ControlKind::Icon:
            break;
    }
    const bool visible = (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible != st.visible) ShowWindow(control, st.visible ? SW_SHOWNA : SW_HIDE);
    if ((IsWindowEnabled(control) != FALSE) != st.enabled) EnableWindow(control, st.enabled ? TRUE : FALSE);
    const int focus = controls_.GetFocus();
    if (focus == id && focus != focus_ && st.enabled) {
        focus_ = focus;
        SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
    applying_ = false;
}

void DialogWindow::Close(int result) {
    if (callbacks_ && !callbacks_->OnClose()) return;
    EndDialog(H(hwnd_), result);
}

void DialogWindow::Command(int id, int code, void* control) {
    if (!control) {
        // A menu command, or Enter/Esc without a button of that id.
        if (id == IDOK || id == IDCANCEL) return Close(id);
        if (!callbacks_) return;
        Apply(id);  // the mark follows the model, not the click
        callbacks_->OnCommand(id, 0);
        return;
    }
    if (!callbacks_) {
        if (id == IDOK || id == IDCANCEL) EndDialog(H(hwnd_), id);
        return;
    }
    if (id == IDOK || id == IDCANCEL) return Close(id);
    const ControlState st = controls_.Get(id);
    if (st.kind == ControlKind::ComboBox) {
        const HWND combo = static_cast<HWND>(control);
        switch (code) {
            case CBN_SELCHANGE:
                if (applying_) return;
                controls_.SetCurSel(id, static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)));
                callbacks_->OnCommand(id, CBN_SELCHANGE);
                return;
            case CBN_EDITCHANGE: controls_.SetEditText(id, Narrow16(WindowText(combo))); return;
            case CBN_DROPDOWN:
            case CBN_CLOSEUP: callbacks_->OnCommand(id, code); return;
            default: return;
        }
    }
    if (code == BN_CLICKED) callbacks_->OnCommand(id, BN_CLICKED);
}

intptr_t DialogWindow::Message(void* window, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    const HWND hwnd = H(window);
    switch (msg) {
        case WM_INITDIALOG: {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                hwnd_ = hwnd;
            }
            Init();
            bool defaultFocus = true;
            if (callbacks_) {
                defaultFocus = callbacks_->OnInitDialog();
                HMENU system = GetSystemMenu(hwnd, FALSE);
                for (const SysMenuItem& item : controls_.SysMenu()) {
                    if (item.command == 0) {
                        AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
                    } else {
                        AppendMenuW(system, MF_STRING, item.command, Wide(item.text).c_str());
                        sysCommands_.push_back(item.command);
                    }
                }
            }
            ApplyAll();
            return (defaultFocus && controls_.GetFocus() < 0) ? TRUE : FALSE;
        }
        case WM_SHOWWINDOW:
            if (wParam && onShow_) {
                onShow_();
                ApplyAll();
            }
            if (callbacks_) callbacks_->OnShowWindow(wParam != 0, static_cast<int>(lParam));
            return FALSE;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<void*>(lParam));
            return TRUE;
        case WM_CLOSE:
            Close(IDCANCEL);
            return TRUE;
        case WM_TIMER:
            if (callbacks_) callbacks_->OnTimer(static_cast<unsigned>(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            for (unsigned command : sysCommands_) {
                if ((wParam & 0xFFF0) != command) continue;
                callbacks_->OnSysCommand(command);
                return TRUE;
            }
            return FALSE;
        case kMsgFlush:
            Flush();
            return TRUE;
        case kMsgRun:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            return TRUE;
        case WM_DESTROY: {
            controls_.SetListener(nullptr);
            for (auto& [id, tips] : comboTips_)
                if (tips->list) RemoveWindowSubclass(tips->list, &ComboTips::ListProc, 1);
            comboTips_.clear();
            std::lock_guard<std::mutex> lock(mutex_);
            hwnd_ = nullptr;
            return FALSE;
        }
        default:
            return FALSE;
    }
}

}  // namespace zl::win
