#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file.h"
#include "platform/text_convert.h"

namespace zl {
namespace {

std::u16string Reason(int err) { return FromUtf8(std::strerror(err)); }

class PosixFile : public File {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
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

    bool Close() override {
        if (fd_ < 0) return true;
        bool ok = true;
        // Data that cannot be stored shows up here at the latest (full disk, NFS).
        if (writable_ && fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) ok = Fail(errno) == 0;
        if (::close(fd_) != 0 && ok) ok = Fail(errno) == 0;
        fd_ = -1;
        return ok;
    }

    std::u16string LastError() const override { return error_; }

    void SetWritable() { writable_ = true; }

private:
    long Fail(int err) {
        error_ = Reason(err);
        return -1;
    }

    int fd_;
    bool writable_ = false;
    std::u16string error_;
};

}  // namespace

std::unique_ptr<File> OpenFileForRead(const std::u16string& path, bool exclusive, std::u16string& error) {
    if (path.empty()) {
        error = Reason(ENOENT);
        return nullptr;
    }
    int fd = ::open(ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = Reason(errno);
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error = Reason(S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return nullptr;
    }
    if (exclusive && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = Reason(errno == EWOULDBLOCK ? EBUSY : errno);
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<File> CreateFileForWrite(const std::u16string& path, std::u16string& error) {
    if (path.empty()) {
        error = Reason(ENOENT);
        return nullptr;
    }
    int fd = ::open(ToUtf8(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = Reason(errno);
        return nullptr;
    }
    auto file = std::make_unique<PosixFile>(fd);
    file->SetWritable();
    return file;
}

}  // namespace zl
