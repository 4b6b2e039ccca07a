#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/text_convert.h"

namespace zl {
namespace {

FileError ErrorOf(int err) {
    switch (err) {
        case ENOENT: return {FileProblem::NotFound, {}};
        case ENOSPC:
        case EDQUOT: return {FileProblem::NoSpace, {}};
        case EACCES:
        case EPERM: return {FileProblem::Permission, {}};
        case EROFS: return {FileProblem::ReadOnly, {}};
        case EISDIR: return {FileProblem::IsDirectory, {}};
        case EBUSY:
        case EWOULDBLOCK: return {FileProblem::Busy, {}};
        default: return {FileProblem::Other, FromUtf8(std::strerror(err))};
    }
}

// Refuses anything but a regular file behind an open descriptor.
bool CheckRegular(int fd, struct stat& st, FileError& error) {
    if (fstat(fd, &st) != 0) {
        error = ErrorOf(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = {FileProblem::IsDirectory, {}};
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = {FileProblem::NotRegular, {}};
        return false;
    }
    return true;
}

class PosixFile : public File {
public:
    PosixFile(int fd, bool writable) : fd_(fd), writable_(writable) {
        struct stat st;
        if (fstat(fd_, &st) == 0) opened_ = st;
    }
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    long Read(uint8_t* buf, size_t n) override {
        if (fd_ < 0) return Fail(EBADF);
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::read(fd_, buf + got, n - got);
            if (r > 0) {
                got += static_cast<size_t>(r);
            } else if (r == 0) {
                break;
            } else if (errno != EINTR) {
                return Fail(errno);
            }
        }
        return static_cast<long>(got);
    }

    bool Write(const uint8_t* buf, size_t n) override {
        if (fd_ < 0) return Fail(EBADF) == 0;
        size_t put = 0;
        while (put < n) {
            ssize_t r = ::write(fd_, buf + put, n - put);
            if (r > 0) {
                put += static_cast<size_t>(r);
            } else if (r < 0 && errno != EINTR) {
                Fail(errno);
                return false;
            } else if (r == 0) {
                Fail(ENOSPC);
                return false;
            }
        }
        return true;
    }

    bool SeekToBegin() override {
        if (fd_ < 0 || lseek(fd_, 0, SEEK_SET) != 0) return Fail(fd_ < 0 ? EBADF : errno) == 0;
        return true;
    }

    int64_t Length() override {
        struct stat st;
        if (fd_ < 0 || fstat(fd_, &st) != 0) return Fail(fd_ < 0 ? EBADF : errno);
        return static_cast<int64_t>(st.st_size);
    }

    bool Unchanged() override {
        struct stat st;
        if (fd_ < 0 || fstat(fd_, &st) != 0) return Fail(fd_ < 0 ? EBADF : errno) == 0;
        if (st.st_size == opened_.st_size && st.st_mtim.tv_sec == opened_.st_mtim.tv_sec &&
            st.st_mtim.tv_nsec == opened_.st_mtim.tv_nsec)
            return true;
        error_ = {FileProblem::Changed, {}};
        return false;
    }

    bool Close() override {
        if (fd_ < 0) return true;
        bool ok = true;
        // Data that cannot be stored shows up here at the latest (full disk, NFS).
        if (writable_ && fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) ok = Fail(errno) == 0;
        if (::close(fd_) != 0 && ok) ok = Fail(errno) == 0;
        fd_ = -1;
        return ok;
    }

    FileError LastError() const override { return error_; }

private:
    long Fail(int err) {
        error_ = ErrorOf(err);
        return -1;
    }

    int fd_;
    bool writable_;
    struct stat opened_ {};
    FileError error_;
};

std::string Folder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<File> OpenFileForRead(const std::u16string& path, FileError& error) {
    if (path.empty()) {
        error = {FileProblem::NotFound, {}};
        return nullptr;
    }
    // Non-blocking, so that a pipe cannot hold the open; it is refused right after.
    int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = ErrorOf(errno);
        return nullptr;
    }
    struct stat st;
    if (!CheckRegular(fd, st, error)) {
        ::close(fd);
        return nullptr;
    }
    if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
        error = ErrorOf(errno == EWOULDBLOCK ? EBUSY : errno);
        ::close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixFile>(fd, false);
}

std::unique_ptr<File> CreateFileBeside(const std::u16string& target, std::u16string& tempPath, FileError& error) {
    const std::string path = ToUtf8(target);
    if (path.empty()) {
        error = {FileProblem::NotFound, {}};
        return nullptr;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        error = {S_ISDIR(st.st_mode) ? FileProblem::IsDirectory : FileProblem::NotRegular, {}};
        return nullptr;
    }
    static std::atomic<unsigned> serial{0};
    const std::string folder = Folder(path);
    const std::string base = path.substr(path.find_last_of('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = folder + "/." + base + "." + std::to_string(getpid()) + "." +
                                 std::to_string(serial.fetch_add(1)) + ".tmp";
        int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            tempPath = FromUtf8(temp);
            return std::make_unique<PosixFile>(fd, true);
        }
        if (errno != EEXIST) {
            error = ErrorOf(errno);
            return nullptr;
        }
    }
    error = ErrorOf(EEXIST);
    return nullptr;
}

bool ReplaceFile(const std::u16string& from, const std::u16string& target, FileError& error) {
    if (std::rename(ToUtf8(from).c_str(), ToUtf8(target).c_str()) == 0) return true;
    error = ErrorOf(errno);
    return false;
}

bool RemoveFile(const std::u16string& path) {
    return ::unlink(ToUtf8(path).c_str()) == 0 || errno == ENOENT;
}

}  // namespace zl
