#include "os/posix/port_diagnosis.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "os/posix/serial_slot.h"
#include "platform/serial.h"
#include "platform/text_convert.h"

namespace zl {
namespace {

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string ProcessName(int pid) { return ReadFirstLine("/proc/" + std::to_string(pid) + "/comm"); }

bool Alive(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// A live UUCP lock file for the device (/var/lock or /run/lock, "LCK..ttyUSB0"): its PID.
int UucpLockHolder(const std::string& device, std::string& lockFile) {
    const std::string base = device.substr(device.rfind('/') + 1);
    for (const char* dir : {"/var/lock", "/run/lock"}) {
        const std::string path = std::string(dir) + "/LCK.." + base;
        std::ifstream in(path, std::ios::binary);
        if (!in) continue;
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        int pid = 0;
        if (content.size() == 4 && (content[0] < '0' || content[0] > '9') && content[0] != ' ')
            std::memcpy(&pid, content.data(), 4);  // the old binary form
        else
            pid = std::atoi(content.c_str());
        if (Alive(pid)) {
            lockFile = path;
            return pid;
        }
    }
    return 0;
}

// The first other process with the character device open, from /proc/<pid>/fd.
int ProcHolder(dev_t rdev) {
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    int found = 0;
    const int self = getpid();
    while (dirent* e = readdir(proc)) {
        const int pid = std::atoi(e->d_name);
        if (pid <= 0 || pid == self) continue;
        const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
        DIR* fds = opendir(fdDir.c_str());
        if (!fds) continue;  // another user's process: not ours to see
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            struct stat st;
            if (stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev) {
                found = pid;
                break;
            }
        }
        closedir(fds);
        if (found) break;
    }
    closedir(proc);
    return found;
}

// Whether any process holds a lock (flock, POSIX or OFD) on the file, from /proc/locks
// ("1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF": the file's device in hex and inode).
bool LockedByAnyone(const struct stat& st) {
    std::ifstream in("/proc/locks");
    if (!in) return true;  // unknown: claim nothing
    char id[32];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    for (std::string line; std::getline(in, line);)
        if (line.find(std::string(" ") + id + " ") != std::string::npos) return true;
    return false;
}

// Whether the user belongs to gid by the group database, and whether this process has it.
void GroupMembership(gid_t gid, bool& inDatabase, bool& inSession) {
    inSession = getegid() == gid;
    gid_t groups[256];
    const int n = getgroups(256, groups);
    for (int i = 0; i < n; ++i) inSession = inSession || groups[i] == gid;
    inDatabase = inSession;
    if (const passwd* pw = getpwuid(getuid())) {
        int count = 256;
        gid_t all[256];
        if (getgrouplist(pw->pw_name, pw->pw_gid, all, &count) >= 0)
            for (int i = 0; i < count; ++i) inDatabase = inDatabase || all[i] == gid;
    }
}

void ExplainPermission(PortDiagnosis& d, const struct stat& st) {
    const group* gr = getgrgid(st.st_gid);
    d.group = gr ? gr->gr_name : std::to_string(st.st_gid);
    bool inDatabase = false, inSession = false;
    GroupMembership(st.st_gid, inDatabase, inSession);
    const std::string rule = "or install the udev rule that gives the user at the seat access (TAG+=\"uaccess\")";
    if (inDatabase && !inSession)
        d.fix = "you are in group " + d.group + ", but this login session is not yet: log out and in again";
    else if (d.group != "root")
        d.fix = "sudo usermod -aG " + d.group + " $USER, then log out and in again; " + rule;
    else
        d.fix = "the device belongs to root alone: " + rule;
}

}  // namespace

const char* PortStateName(PortState state) {
    switch (state) {
        case PortState::Usable: return "usable";
        case PortState::Busy: return "busy";
        case PortState::PermissionDenied: return "permission-denied";
        case PortState::NotSerial: return "not-serial";
        case PortState::NoUart: return "no-uart";
        case PortState::Missing: return "missing";
    }
    return "";
}

PortDiagnosis DiagnosePath(const std::string& path, bool findHolder) {
    PortDiagnosis d;
    d.path = path;
    d.device = RealPath(path);
    struct stat st;
    if (d.device.empty() || stat(d.device.c_str(), &st) != 0) {
        d.state = PortState::Missing;
        d.detail = std::strerror(errno);
        return d;
    }
    if (!S_ISCHR(st.st_mode)) {
        d.state = PortState::NotSerial;
        d.detail = S_ISDIR(st.st_mode) ? "a folder" : "not a character device";
        return d;
    }
    const int fd = open(d.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        d.detail = std::strerror(err);
        if (err == EACCES || err == EPERM) {
            d.state = PortState::PermissionDenied;
            ExplainPermission(d, st);
        } else if (err == EBUSY) {
            d.state = PortState::Busy;  // held exclusively (TIOCEXCL)
        } else {
            d.state = PortState::Missing;  // ENXIO, ENODEV, EIO: no device behind the node
        }
    } else {
        int exclusive = 0;
        // An empty slot fails isatty (its tty reports an I/O error): asked first.
        if (IsEmptySerialSlot(fd)) {
            d.state = PortState::NoUart;
        } else if (!isatty(fd)) {
            d.state = PortState::NotSerial;
            d.detail = "not a terminal line";
        } else if (ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) {
            d.state = PortState::Busy;
        } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            d.state = PortState::Busy;
        } else {
            flock(fd, LOCK_UN);
            d.state = PortState::Usable;
        }
        close(fd);
    }
    if (d.state == PortState::Usable || d.state == PortState::Busy) {
        if (const int pid = UucpLockHolder(d.device, d.lockFile); pid > 0 && pid != getpid()) {
            d.state = PortState::Busy;
            d.holderPid = pid;
        }
    }
    // Marked exclusive (TIOCEXCL), yet no program holds a lock on it and no lock file names
    // one: a program that locks its line (as this one does) was killed while it held it.
    // The mark goes when the last program with the line open closes it; a pseudo-terminal
    // whose other side (a simulator) keeps it open keeps the mark until then.
    if (d.state == PortState::Busy && d.holderPid == 0 && d.lockFile.empty() && !LockedByAnyone(st)) d.staleExclusive = true;
    if (d.state == PortState::Busy && d.holderPid == 0 && findHolder) d.holderPid = ProcHolder(st.st_rdev);
    if (d.holderPid > 0) d.holderName = ProcessName(d.holderPid);
    return d;
}

std::vector<PortDiagnosis> DiagnoseAllPorts(bool findHolder) {
    std::vector<PortDiagnosis> out;
    const std::string linkPrefix = PortDirectory() + "/com";
    for (int n = 1; n <= 256; ++n) {
        const std::string name = "\\\\.\\COM" + std::to_string(n);
        const std::string path = ResolvePortPath(FromUtf8(name));
        if (path.empty()) continue;
        const bool fromLink = path.rfind(linkPrefix, 0) == 0;
        struct stat st;
        if (!fromLink && lstat(path.c_str(), &st) != 0) continue;  // no such node in the default table
        PortDiagnosis d = DiagnosePath(path, findHolder);
        d.number = n;
        d.fromLink = fromLink;
        out.push_back(std::move(d));
    }
    return out;
}

std::string StableDeviceName(const std::string& device) {
    const std::string real = RealPath(device);
    if (real.empty()) return device;
    for (const char* dir : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
        DIR* d = opendir(dir);
        if (!d) continue;
        std::string found;
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            const std::string candidate = std::string(dir) + "/" + e->d_name;
            if (RealPath(candidate) == real) {
                found = candidate;
                break;
            }
        }
        closedir(d);
        if (!found.empty()) return found;
    }
    return device;
}

bool ModemManagerRunning() {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    bool running = false;
    while (dirent* e = readdir(proc)) {
        const int pid = std::atoi(e->d_name);
        if (pid > 0 && ProcessName(pid) == "ModemManager") {
            running = true;
            break;
        }
    }
    closedir(proc);
    return running;
}

}  // namespace zl
