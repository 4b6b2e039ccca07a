// zlctl: drives BootloaderZL.exe from outside, as the tests under Wine need it. Reads
// one command per line on standard input and answers each with one line, "ok ..." or
// "error ...". Control texts are read with WM_GETTEXT, buttons pressed with BM_CLICK.
//
//   text ID              the text of a control of the main dialog (0: its title)
//   enabled ID           1 or 0
//   combo ID             the selection's index, then the entries, separated by |
//   click ID             presses a button of the main dialog
//   menu COMMAND         a menu command to the main dialog
//   box                  "none", or the title and texts of a box of the program (|-separated)
//   boxclick ID          presses a button of that box (1 = OK, 2 = Cancel)
//   file PATH            answers the open or save dialog with PATH
//   tips                 the texts of the main dialog's tooltips (|-separated)
//   gone                 1 when the main dialog no longer exists
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

HWND g_main = nullptr;

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Line ends and separators inside a text, made visible.
std::string Escape(const std::wstring& w) {
    std::string out;
    for (char c : Utf8(w)) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '|') out += "\\|";
        else out += c;
    }
    return out;
}

std::wstring Text(HWND hwnd) {
    wchar_t buf[8192] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buf[64] = {};
    GetClassNameW(hwnd, buf, 64);
    return buf;
}

bool IsMainDialog(HWND h) {
    return ClassOf(h) == L"#32770" && GetDlgItem(h, 1021) && GetDlgItem(h, 1013) && GetDlgItem(h, 1018);
}

HWND FindMain() {
    if (g_main && IsWindow(g_main)) return g_main;
    g_main = nullptr;
    EnumWindows([](HWND h, LPARAM) -> BOOL {
        if (!IsMainDialog(h)) return TRUE;
        g_main = h;
        return FALSE;
    }, 0);
    return g_main;
}

// A visible dialog of the program other than the main one (a message box, a file
// dialog, the About box).
HWND FindBox() {
    HWND main = FindMain();
    if (!main) return nullptr;
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    struct Search {
        HWND main;
        DWORD pid;
        HWND found;
    } s{main, pid, nullptr};
    EnumWindows([](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (h == s->main || pid != s->pid || !IsWindowVisible(h) || ClassOf(h) != L"#32770") return TRUE;
        s->found = h;
        return FALSE;
    }, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string BoxText(HWND box) {
    std::string out = Escape(Text(box));
    EnumChildWindows(box, [](HWND h, LPARAM p) -> BOOL {
        if (ClassOf(h) == L"Static" && IsWindowVisible(h)) {
            const std::wstring t = Text(h);
            if (!t.empty()) *reinterpret_cast<std::string*>(p) += "|" + Escape(t);
        }
        return TRUE;
    }, reinterpret_cast<LPARAM>(&out));
    return out;
}

// The texts of the tools of every tooltip control the main dialog owns. The tooltip
// copies a tool into memory of its own process: the TOOLINFO goes there.
std::string Tips(HWND main) {
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    const HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return "error cannot open the program's process";
    char* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    std::vector<HWND> tooltips;
    struct Search {
        HWND main;
        std::vector<HWND>* found;
    } s{main, &tooltips};
    EnumWindows([](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        if (GetWindow(h, GW_OWNER) == s->main && ClassOf(h) == L"tooltips_class32") s->found->push_back(h);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&s));
    std::string out = "ok";
    for (HWND tooltip : tooltips) {
        DWORD_PTR count = 0;
        SendMessageTimeoutW(tooltip, TTM_GETTOOLCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
        for (DWORD_PTR i = 0; i < count && i < 300; ++i) {
            TOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.lpszText = reinterpret_cast<wchar_t*>(remote + 1024);
            wchar_t text[1024] = {};
            WriteProcessMemory(process, remote, &tool, sizeof tool, nullptr);
            WriteProcessMemory(process, remote + 1024, text, sizeof text, nullptr);
            DWORD_PTR ok = 0;
            SendMessageTimeoutW(tooltip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 2000, &ok);
            if (!ok) continue;
            ReadProcessMemory(process, remote + 1024, text, sizeof text - sizeof(wchar_t), nullptr);
            out += "|" + Escape(text);
        }
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return out;
}

std::string Run(const std::string& line) {
    const size_t space = line.find(' ');
    const std::string cmd = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    const int id = std::atoi(arg.c_str());
    if (cmd == "gone") return FindMain() ? "ok 0" : "ok 1";
    HWND main = FindMain();
    if (cmd == "box" || cmd == "boxclick" || cmd == "file") {
        HWND box = FindBox();
        if (cmd == "box") return box ? "ok " + BoxText(box) : "ok none";
        if (!box) return "error no box";
        if (cmd == "boxclick") {
            HWND button = GetDlgItem(box, id);
            if (!button) return "error no button " + arg;
            PostMessageW(button, BM_CLICK, 0, 0);
            return "ok";
        }
        // The file name field: a combo box (cmb13) or an edit (edt1).
        HWND name = GetDlgItem(box, 0x47C);
        if (!name) name = GetDlgItem(box, 0x480);
        if (!name) return "error not a file dialog";
        const std::wstring path = Wide(arg);
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        return "ok";
    }
    if (!main) return "error no main dialog";
    if (cmd == "tips") return Tips(main);
    if (cmd == "menu") {
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        return "ok";
    }
    HWND control = id == 0 ? main : GetDlgItem(main, id);
    if (!control) return "error no control " + arg;
    if (cmd == "text") return "ok " + Escape(Text(control));
    if (cmd == "enabled") return IsWindowEnabled(control) ? "ok 1" : "ok 0";
    if (cmd == "click") {
        PostMessageW(control, BM_CLICK, 0, 0);
        return "ok";
    }
    if (cmd == "combo") {
        DWORD_PTR sel = 0, count = 0;
        SendMessageTimeoutW(control, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &sel);
        SendMessageTimeoutW(control, CB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
        std::string out = "ok " + std::to_string(static_cast<int>(sel));
        for (DWORD_PTR i = 0; i < count && i < 300; ++i) {
            wchar_t buf[512] = {};
            SendMessageTimeoutW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
            out += "|" + Escape(buf);
        }
        return out;
    }
    return "error unknown command " + cmd;
}

}  // namespace

int main() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\r') continue;
        if (c != '\n') {
            line += c;
            continue;
        }
        const std::string reply = Run(line) + "\n";
        line.clear();
        DWORD written = 0;
        WriteFile(out, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
    }
    return 0;
}
