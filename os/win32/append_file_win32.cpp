// The record file on Win32: appended in one WriteFile on a handle opened for appending
// only, so that two programs never interleave a record.
#include <string>

#include "platform/append_file.h"
#include "platform/text_convert.h"
#include "os/win32/win_api.h"

namespace zl {
namespace {

std::wstring WidePath(const std::string& utf8) { return win::Wide(FromUtf8(utf8)); }

std::string Reason(DWORD code) { return ToUtf8(win::Narrow16(win::SystemWords(code))); }

// Creates the folders on the way to path's folder; true when that folder exists.
bool MakeParents(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0 || (slash == 2 && path[1] == L':')) return true;
    const std::wstring dir = path.substr(0, slash);
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!MakeParents(dir)) return false;
    return CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool AppendToFile(const std::string& path, const std::string& bytes, std::string& error) {
    const std::wstring name = WidePath(path);
    if (!MakeParents(name)) {
        error = Reason(GetLastError());
        return false;
    }
    HANDLE h = CreateFileW(name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = Reason(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    if (!ok) {
        error = written ? "only part of the record was written (disk full?)" : Reason(GetLastError());
        if (written) WriteFile(h, "\n", 1, &written, nullptr);  // a torn line must not run into the next
    }
    CloseHandle(h);
    return ok;
}

std::string UserStateDirectory() {
    wchar_t buf[MAX_PATH + 1] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buf, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return ".";
    return ToUtf8(win::Narrow16(std::wstring(buf, n)));
}

std::string HostName() {
    wchar_t buf[256] = {};
    DWORD n = 255;
    if (!GetComputerNameExW(ComputerNameDnsHostname, buf, &n)) return {};
    return ToUtf8(win::Narrow16(std::wstring(buf, n)));
}

}  // namespace zl
