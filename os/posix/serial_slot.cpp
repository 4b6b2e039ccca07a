#include "os/posix/serial_slot.h"

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace zl {
namespace {

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool IsTtySName(const std::string& name) {
    if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0) return false;
    for (size_t i = 4; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

}  // namespace

bool IsBuiltinSerialSlot(dev_t device, const std::string& sysRoot) {
    const std::string node =
        sysRoot + "/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    char target[PATH_MAX];
    const ssize_t n = readlink((node + "/device/driver").c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        return BaseName(target) == "serial8250";
    }
    char real[PATH_MAX];
    if (!realpath(node.c_str(), real)) return false;
    return IsTtySName(BaseName(real));
}

bool IsEmptySerialSlot(int fd, const std::string& sysRoot) {
    serial_struct info{};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN) return false;
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && IsBuiltinSerialSlot(st.st_rdev, sysRoot);
}

}  // namespace zl
