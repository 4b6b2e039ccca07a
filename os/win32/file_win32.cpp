// Firmware files and readouts on Win32: regular files only, readers share the file,
// readouts go to a new file beside the target that then replaces it in one step.
#include <algorithm>
#include <atomic>
#include <string>

#include "platform/file.h"
#include "os/win32/win_api.h"

namespace zl {
namespace {

FileError ErrorOf(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return {FileProblem::NotFound, {}};
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return {FileProblem::NoSpace, {}};
        case ERROR_ACCESS_DENIED: return {FileProblem::Permission, {}};
        case ERROR_WRITE_PROTECT: return {FileProblem::ReadOnly, {}};
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return {FileProblem::Busy, {}};
        default: break;
    }
    return {FileProblem::Other, win::Narrow16(win::SystemWords(code))};
}

// What stands at path when it is not a regular file (None for a file or nothing).
FileProblem NotAFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileProblem::None;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileProblem::IsDirectory;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return FileProblem::NotRegular;
    return FileProblem::None;
}

class Win32File : public File {
public:
    Win32File(HANDLE handle, bool writable) : handle_(handle), writable_(writable) { Stamp(opened_); }
    ~Win32File() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    long Read(uint8_t* buf, size_t n) override {
        size_t got = 0;
        while (got < n) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - got, 1u << 20)), read = 0;
            if (!ReadFile(handle_, buf + got, chunk, &read, nullptr)) return Fail();
            if (read == 0) break;
            got += read;
        }
        return static_cast<long>(got);
    }

    bool Write(const uint8_t* buf, size_t n) override {
        size_t put = 0;
        while (put < n) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - put, 1u << 20)), written = 0;
            if (!WriteFile(handle_, buf + put, chunk, &written, nullptr)) return Fail() == 0;
            if (written == 0) {
                error_ = ErrorOf(ERROR_DISK_FULL);
                return false;
            }
            put += written;
        }
        return true;
    }

    bool SeekToBegin() override {
        LARGE_INTEGER zero{};
        return SetFilePointerEx(handle_, zero, nullptr, FILE_BEGIN) || Fail() == 0;
    }

    int64_t Length() override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_, &size)) return Fail();
        return size.QuadPart;
    }

    bool Unchanged() override {
        Info now;
        if (!Stamp(now)) return Fail() == 0;
        if (now.size == opened_.size && now.written == opened_.written) return true;
        error_ = {FileProblem::Changed, {}};
        return false;
    }

    bool Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return true;
        bool ok = true;
        // Data that cannot be stored shows up here at the latest.
        if (writable_ && !FlushFileBuffers(handle_)) ok = Fail() == 0;
        if (!CloseHandle(handle_) && ok) ok = Fail() == 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

    FileError LastError() const override { return error_; }

private:
    struct Info {
        uint64_t size = 0;
        uint64_t written = 0;
    };

    bool Stamp(Info& info) {
        BY_HANDLE_FILE_INFORMATION data;
        if (!GetFileInformationByHandle(handle_, &data)) return false;
        info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        info.written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                       data.ftLastWriteTime.dwLowDateTime;
        return true;
    }

    long Fail() {
        error_ = ErrorOf(GetLastError());
        return -1;
    }

    HANDLE handle_;
    bool writable_;
    Info opened_;
    FileError error_;
};

std::wstring Folder(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"." : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<File> OpenFileForRead(const std::u16string& path, FileError& error) {
    const std::wstring name = win::Wide(path);
    if (name.empty()) {
        error = {FileProblem::NotFound, {}};
        return nullptr;
    }
    if (const FileProblem p = NotAFile(name); p != FileProblem::None) {
        error = {p, {}};
        return nullptr;
    }
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = ErrorOf(GetLastError());
        return nullptr;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {  // a pipe, a console, a device
        CloseHandle(h);
        error = {FileProblem::NotRegular, {}};
        return nullptr;
    }
    return std::make_unique<Win32File>(h, false);
}

std::unique_ptr<File> CreateFileBeside(const std::u16string& target, std::u16string& tempPath, FileError& error) {
    const std::wstring path = win::Wide(target);
    if (path.empty()) {
        error = {FileProblem::NotFound, {}};
        return nullptr;
    }
    if (const FileProblem p = NotAFile(path); p != FileProblem::None) {
        error = {p, {}};
        return nullptr;
    }
    static std::atomic<unsigned> serial{0};
    const std::wstring folder = Folder(path);
    const std::wstring base = path.substr(path.find_last_of(L"\\/") + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temp = folder + L"\\~" + base + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                  std::to_wstring(serial.fetch_add(1)) + L".tmp";
        HANDLE h = CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            tempPath = win::Narrow16(temp);
            return std::make_unique<Win32File>(h, true);
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = ErrorOf(GetLastError());
            return nullptr;
        }
    }
    error = ErrorOf(ERROR_FILE_EXISTS);
    return nullptr;
}

bool ReplaceFile(const std::u16string& from, const std::u16string& target, FileError& error) {
    if (MoveFileExW(win::Wide(from).c_str(), win::Wide(target).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = ErrorOf(GetLastError());
    return false;
}

bool RemoveFile(const std::u16string& path) {
    return DeleteFileW(win::Wide(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace zl
