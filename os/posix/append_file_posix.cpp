#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/append_file.h"

namespace zl {
namespace {

// Creates the folders on the way to path's folder; true when that folder exists.
bool MakeParents(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    const std::string dir = path.substr(0, slash);
    struct stat st;
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!MakeParents(dir)) return false;
    return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

bool AppendToFile(const std::string& path, const std::string& bytes, std::string& error) {
    if (!MakeParents(path)) {
        error = std::strerror(errno);
        return false;
    }
    // Non-blocking: a FIFO (or a device) in the records file's place must never hold a
    // transfer or the program's end; only a regular file takes records.
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = errno == ENXIO ? "not a regular file (a FIFO?)" : std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        close(fd);
        return false;
    }
    ssize_t n;
    do n = write(fd, bytes.data(), bytes.size());
    while (n < 0 && errno == EINTR);
    bool ok = n == static_cast<ssize_t>(bytes.size());
    if (n < 0) error = std::strerror(errno);
    else if (!ok) error = "only part of the record was written (disk full?)";
    if (n > 0 && !ok) {
        // A torn line must not run into the next record: end it.
        ssize_t ignored = write(fd, "\n", 1);
        (void)ignored;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    return ok;
}

std::string UserStateDirectory() {
    const char* xdg = std::getenv("XDG_STATE_HOME");
    if (xdg && *xdg == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/state";
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

}  // namespace zl
