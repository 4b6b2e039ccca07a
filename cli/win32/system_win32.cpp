// What bzl needs of Windows: UTF-16 arguments, the console (characters, the live line,
// Ctrl-C and its close button), file names with drive letters and backslashes.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/system.h"
#include "platform/text_convert.h"
#include "os/win32/registry_profile.h"
#include "os/win32/win_api.h"

#include <mmsystem.h>
#include <shellapi.h>

namespace zl::cli {
namespace {

std::atomic<int>* g_flag = nullptr;
HANDLE g_ended = nullptr;       // set by RunEnded
bool g_utf8 = false;            // text into a pipe or file as UTF-8 (--json, --utf8, BZL_UTF8=1)

std::wstring WidePath(const std::string& utf8) { return win::Wide(FromUtf8(utf8)); }
std::string Utf8(const std::wstring& wide) { return ToUtf8(win::Narrow16(wide)); }
std::string Reason(DWORD code) { return Utf8(win::SystemWords(code)); }

BOOL WINAPI OnConsoleEvent(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            if (g_flag) g_flag->store(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            if (g_flag) g_flag->store(SIGTERM);
            // Windows ends the process when this returns, and at the latest after 5 s:
            // the run gets that long to finish and reset the device.
            if (g_ended) WaitForSingleObject(g_ended, 4500);
            return TRUE;
        default: return FALSE;
    }
}

bool StdoutIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

}  // namespace

std::vector<std::string> Arguments(int, char**) {
    // The ANSI argv cannot hold every file name: the command line is read in UTF-16.
    std::vector<std::string> args;
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return args;
    for (int i = 1; i < n; ++i) args.push_back(Utf8(wide[i]));
    LocalFree(wide);
    // --utf8 is Windows' own (Linux writes UTF-8 anyway); --json is for programs,
    // which read UTF-8.
    wchar_t value[8] = {};
    g_utf8 = GetEnvironmentVariableW(L"BZL_UTF8", value, 8) > 0 && std::wstring(value) == L"1";
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--json") g_utf8 = true;
        if (*it != "--utf8") {
            ++it;
            continue;
        }
        g_utf8 = true;
        it = args.erase(it);
    }
    return args;
}

void PrepareProcess(std::atomic<int>& interruptFlag) {
    // Sleep and the waits of the serial port in milliseconds, not in 15.6 ms ticks.
    timeBeginPeriod(1);
    g_flag = &interruptFlag;
    g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RunEnded() {
    if (g_ended) SetEvent(g_ended);
}

namespace {

// The code page a pipe or file gets its text in: UTF-8 when asked for (or JSON);
// otherwise the one its reader on this machine decodes with: in a console window the
// console's output code page (cmd's type and PowerShell's pipes read it; chcp 65001
// makes it UTF-8), without a console the ANSI code page.
UINT PipeCodePage() {
    if (g_utf8) return CP_UTF8;
    const UINT console = GetConsoleOutputCP();
    return console ? console : GetACP();
}

std::string Encoded(const std::string& utf8, UINT codePage) {
    if (codePage == CP_UTF8 || utf8.empty()) return utf8;
    const std::wstring wide = win::Wide(FromUtf8(utf8));
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return utf8;
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

// A console takes UTF-16 characters; a pipe or file the bytes of PipeCodePage().
void Write(FILE* stream, DWORD handleId, const std::string& utf8) {
    const HANDLE h = GetStdHandle(handleId);
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) {
        const std::string bytes = Encoded(utf8, PipeCodePage());
        std::fwrite(bytes.data(), 1, bytes.size(), stream);
        return;
    }
    std::fflush(stream);
    const std::wstring wide = win::Wide(FromUtf8(utf8));
    DWORD written = 0;
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace

void WriteOut(const std::string& utf8) { Write(stdout, STD_OUTPUT_HANDLE, utf8); }
void WriteErr(const std::string& utf8) { Write(stderr, STD_ERROR_HANDLE, utf8); }

bool LiveTerminal() { return StdoutIsConsole(); }

// Not every console draws control sequences even when it takes the mode (consoles before
// Windows 10 refuse it, others print the escape as a character): the live line is
// covered with spaces, which every console draws.
bool TerminalTakesControlSequences() { return false; }

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

PathKind Inspect(const std::string& path, int64_t& size, std::string& reason) {
    // Opened without access, so that a device name (NUL, COM1) shows as what it is.
    const HANDLE h = CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME) {
            reason = Reason(code);
            return PathKind::Missing;
        }
        // There, but not to be opened (a file another program holds, a folder without
        // rights): the attributes still tell what it is; opening it says the rest.
        const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            reason = Reason(code);
            return PathKind::Missing;
        }
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
    }
    PathKind kind = PathKind::Other;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
        kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::Folder : PathKind::File;
        size = (static_cast<int64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    CloseHandle(h);
    return kind;
}

bool Readable(const std::string& path, std::string& reason) {
    const HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = Reason(GetLastError());
        return false;
    }
    CloseHandle(h);
    return true;
}

bool WritableFolder(const std::string& folder, std::string& reason) {
    // A file made and removed at once: rights, a read-only medium and a missing folder
    // all show the way the readout itself would meet them.
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(WidePath(folder).c_str(), L"bzl", 0, name)) {
        reason = Reason(GetLastError());
        return false;
    }
    DeleteFileW(name);
    return true;
}

std::string AbsolutePath(const std::string& path) {
    const std::wstring wide = WidePath(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (m == 0 || m >= n) return path;
    full.resize(m);
    return Utf8(full);
}

std::string FolderOf(const std::string& absolutePath) {
    return absolutePath.substr(0, absolutePath.find_last_of("\\/") + 1);
}

std::unique_ptr<Profile> UserProfile() { return win::MakeRegistryProfile(u"BootloaderZL"); }

const char* PortOptionHelp() {
    return "  --port P       the port: COMn, as Windows names it (the Device Manager shows the adapter's number)\n"
           "  --utf8         text into a pipe or file in UTF-8 (also: BZL_UTF8=1); default: the console's code\n"
           "                 page, without a console the ANSI code page; --json is always UTF-8\n";
}

const char* PortsLinkUsage() { return ""; }

const char* RecordsPathHelp() { return "%LOCALAPPDATA%\\Hallwyn\\BootloaderZL\\records.ndjson"; }

const char* PortsCommandHelp() {
    return "usage: bzl ports [--json]\n\n"
           "Lists every COM port Windows knows, named as the Device Manager names it (the name, the maker,\n"
           "the USB serial number), and its state: usable, busy (another program holds it open), not a\n"
           "serial line, missing, no answer (opening it took longer than 1.5 s: a Bluetooth link).\n\n"
           "  --json         one JSON object per port on stdout (UTF-8)\n"
           "  --utf8         text into a pipe or file in UTF-8 (also: BZL_UTF8=1)\n\n"
           "Windows gives each adapter its COM number; the Device Manager changes it (the adapter's\n"
           "Properties, Port Settings, Advanced).\n\n"
           "Exit codes: 0 done; 1 usage.\n";
}

}  // namespace zl::cli
