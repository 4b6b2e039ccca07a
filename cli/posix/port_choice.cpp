#include "cli/port_choice.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/args.h"
#include "platform/serial.h"
#include "platform/text_convert.h"

namespace zl::cli {
namespace {

std::string g_privateBase;  // the XDG_CONFIG_HOME of this run's own port directory
std::vector<std::string> g_privateFiles;

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::u16string DeviceName(int n) { return FromUtf8("\\\\.\\COM" + std::to_string(n)); }

// A port directory for this run only: the user's links as they are, plus comN for each
// device given by a path that no number leads to, at the first numbers no link and no
// default table uses. The process's port directory is switched to it (XDG_CONFIG_HOME;
// the profile has been read before).
int PrivateNumber(const std::string& device, std::string& error) {
    if (g_privateBase.empty()) {
        const std::string userDir = PortDirectory();
        char tmpl[] = "/tmp/bzl-ports-XXXXXX";
        if (!mkdtemp(tmpl)) return error = "cannot make a temporary port directory", 0;
        g_privateBase = tmpl;
        mkdir((g_privateBase + "/Hallwyn").c_str(), 0700);
        mkdir((g_privateBase + "/Hallwyn/ports").c_str(), 0700);
        if (DIR* d = opendir(userDir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string name = e->d_name;
                if (name.rfind("com", 0) != 0 || name.find('.') != std::string::npos) continue;
                const std::string to = g_privateBase + "/Hallwyn/ports/" + name;
                if (symlink((userDir + "/" + name).c_str(), to.c_str()) == 0) g_privateFiles.push_back(to);
            }
            closedir(d);
        }
        setenv("XDG_CONFIG_HOME", g_privateBase.c_str(), 1);
    }
    const std::string dir = g_privateBase + "/Hallwyn/ports";
    int free = 0;
    for (int n = 97; n <= 256 && free == 0; ++n) {
        struct stat st;
        if (lstat((dir + "/com" + std::to_string(n)).c_str(), &st) != 0) free = n;
    }
    if (free == 0) return error = "no free COM number for " + device, 0;
    const std::string link = dir + "/com" + std::to_string(free);
    if (symlink(device.c_str(), link.c_str()) != 0) return error = "cannot link " + device, 0;
    g_privateFiles.push_back(link);
    return free;
}

}  // namespace

int ChoosePort(const std::string& arg, std::u16string& comName, std::string& path, std::string& error) {
    const int number = ComNumber(arg);
    if (number < 0) return error = "--port \"" + arg + "\": a COM name is COM1 to COM256", 1;
    if (number > 0) {
        comName = DeviceName(number);
        path = ResolvePortPath(comName);
        if (path.empty())
            return error = "--port " + arg + " resolves to nothing: there is no link com" + std::to_string(number) + " in " +
                           PortDirectory() + " and the default table ends at COM96 (bzl ports link " +
                           std::to_string(number) + " DEVICE makes one)", 1;
        return 0;
    }
    const std::string real = RealPath(arg);
    struct stat st;
    if (real.empty() || stat(real.c_str(), &st) != 0)
        return error = "--port \"" + arg + "\" resolves to nothing: give COMn or the path of an existing device", 1;
    if (!S_ISCHR(st.st_mode)) return error = "--port \"" + arg + "\" is not a device", 1;
    for (int n = 1; n <= 256; ++n) {
        const std::string p = ResolvePortPath(DeviceName(n));
        if (!p.empty() && RealPath(p) == real) {
            comName = DeviceName(n);
            path = p;
            return 0;
        }
    }
    const int n = PrivateNumber(arg, error);
    if (n == 0) return 1;
    comName = DeviceName(n);
    path = arg;
    return 0;
}

void ReleasePrivatePorts() {
    if (g_privateBase.empty()) return;
    for (const std::string& f : g_privateFiles) unlink(f.c_str());
    rmdir((g_privateBase + "/Hallwyn/ports").c_str());
    rmdir((g_privateBase + "/Hallwyn").c_str());
    rmdir(g_privateBase.c_str());
    g_privateBase.clear();
}

}  // namespace zl::cli
