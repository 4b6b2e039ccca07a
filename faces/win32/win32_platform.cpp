#include "faces/win32/win32_platform.h"

#include <cstdio>
#include <vector>

#include "files/file_filter.h"
#include "res/resources.h"
#include "faces/win32/dialog_window.h"
#include "os/win32/registry_profile.h"
#include "os/win32/win_api.h"

namespace zl::win {
namespace {

HWND H(void* p) { return static_cast<HWND>(p); }

// "description|pattern|...||" as the file dialogs read it: pairs of zero-terminated
// strings, ended by an empty one.
std::wstring Win32Filter(const std::u16string& filter) {
    std::wstring out;
    for (const FilterEntry& e : SplitFilter(filter)) {
        out += Wide(e.description);
        out += L'\0';
        out += Wide(e.pattern);
        out += L'\0';
    }
    out += L'\0';
    return out;
}

}  // namespace

Win32Platform::Win32Platform() : profile_(MakeRegistryProfile(AppName())) {}

Win32Platform::~Win32Platform() = default;

void* Win32Platform::MainHandle() const {
    DialogWindow* main = main_.load();
    return main ? main->Handle() : nullptr;
}

void Win32Platform::OnUiThread(const std::function<void()>& fn) {
    const HWND hwnd = H(MainHandle());
    if (!hwnd || GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId()) {
        fn();
        return;
    }
    SendMessageW(hwnd, kMsgRun, 0, reinterpret_cast<LPARAM>(&fn));
}

int Win32Platform::DoModal(const DialogTemplate& dlg, const MenuTemplate* menu, Controls& controls,
                           DialogCallbacks& callbacks) {
    DialogWindow window(dlg, menu, controls, &callbacks, nullptr);
    main_ = &window;
    const intptr_t result = window.Run(nullptr);
    main_ = nullptr;
    return result == IDOK ? IDOK : IDCANCEL;
}

int Win32Platform::RunSubDialog(const DialogTemplate& dlg, Controls& controls, const std::function<void()>& onShow) {
    int result = IDCANCEL;
    OnUiThread([&] {
        DialogWindow box(dlg, nullptr, controls, nullptr, onShow);
        result = box.Run(MainHandle()) == IDOK ? IDOK : IDCANCEL;
    });
    return result;
}

void Win32Platform::SetTimer(unsigned id, unsigned ms) {
    OnUiThread([&] {
        if (void* hwnd = MainHandle()) ::SetTimer(H(hwnd), id, ms, nullptr);
    });
}

int Win32Platform::MessageBox(const std::u16string& text, const std::u16string& title, unsigned type) {
    int result = IDOK;
    OnUiThread([&] {
        const std::wstring caption = Wide(title.empty() ? AppName() : title);
        const int r = MessageBoxW(H(MainHandle()), Wide(text).c_str(), caption.c_str(), type | MB_SETFOREGROUND);
        result = r == IDCANCEL && (type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDOK;
    });
    return result;
}

std::optional<std::u16string> Win32Platform::FileDialog(bool open, const std::u16string& filter,
                                                        const std::u16string& defExt, unsigned flags) {
    std::optional<std::u16string> chosen;
    OnUiThread([&] {
        const std::wstring filters = Win32Filter(filter);
        const std::wstring ext = Wide(defExt);
        std::vector<wchar_t> file(32768, L'\0');
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = H(MainHandle());
        ofn.lpstrFilter = filters.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = file.data();
        ofn.nMaxFile = static_cast<DWORD>(file.size());
        ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
        ofn.Flags = flags | OFN_EXPLORER | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
        if (open) {
            ofn.Flags |= OFN_FILEMUSTEXIST;
            ofn.Flags &= ~static_cast<DWORD>(OFN_OVERWRITEPROMPT);
        }
        const BOOL ok = open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
        if (ok) chosen = Narrow16(file.data());
    });
    return chosen;
}

int Win32Platform::ControlWidth(int id) {
    int width = 0;
    OnUiThread([&] {
        RECT rect;
        if (HWND control = GetDlgItem(H(MainHandle()), id); control && GetWindowRect(control, &rect))
            width = rect.right - rect.left;
    });
    return width;
}

int Win32Platform::TextWidth(int id, const std::u16string& text) {
    int width = 0;
    OnUiThread([&] {
        HWND control = GetDlgItem(H(MainHandle()), id);
        HDC dc = GetDC(control);
        if (!dc) return;
        auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
        const std::wstring w = Wide(text);
        SIZE size{};
        if (GetTextExtentPoint32W(dc, w.c_str(), static_cast<int>(w.size()), &size)) width = size.cx;
        if (old) SelectObject(dc, old);
        ReleaseDC(control, dc);
    });
    return width;
}

Profile& Win32Platform::GetProfile() { return *profile_; }

std::u16string Win32Platform::AppName() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    if (const size_t dot = name.find_last_of(L'.'); dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name.empty() ? u"BootloaderZL" : Narrow16(name);
}

void Win32Platform::EndProgram(int code) {
    std::fflush(nullptr);
    ::ExitProcess(static_cast<UINT>(code));
}

}  // namespace zl::win
