#include "cli/system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "os/qsettings/qsettings_profile.h"

namespace zl::cli {
namespace {

std::atomic<int>* g_flag = nullptr;
int g_null = -1;                  // /dev/null, opened before any signal can come
bool g_terminal[3] = {};          // standard input, output, error are a terminal

void OnSignal(int sig) {
    if (sig == SIGHUP && g_null >= 0) {
        // The terminal is gone: what is still printed goes nowhere, and no write can
        // fail or block on it while the transfer is finished.
        for (int fd = 0; fd < 3; ++fd)
            if (g_terminal[fd]) dup2(g_null, fd);
    }
    if (g_flag) g_flag->store(sig);
}

// Catches sig, unless the caller has it ignored (nohup ignores SIGHUP, a shell's
// background job SIGINT): then it stays ignored.
void Catch(int sig) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void PrepareProcess(std::atomic<int>& interruptFlag) {
    g_flag = &interruptFlag;
    g_null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd < 3; ++fd) g_terminal[fd] = isatty(fd) != 0;
    Catch(SIGINT);
    Catch(SIGTERM);
    Catch(SIGHUP);
    signal(SIGPIPE, SIG_IGN);
}

void RunEnded() {}

void WriteOut(const std::string& utf8) { std::fputs(utf8.c_str(), stdout); }
void WriteErr(const std::string& utf8) { std::fputs(utf8.c_str(), stderr); }

bool LiveTerminal() { return isatty(STDOUT_FILENO); }

bool TerminalTakesControlSequences() { return true; }

int TerminalColumns() {
    // The terminal's width now (it may have been resized); a terminal that does not
    // say (a serial console) leaves it to $COLUMNS.
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    const char* columns = std::getenv("COLUMNS");
    return columns ? std::atoi(columns) : 0;
}

PathKind Inspect(const std::string& path, int64_t& size, std::string& reason) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        reason = std::strerror(errno);
        return PathKind::Missing;
    }
    size = st.st_size;
    return S_ISDIR(st.st_mode) ? PathKind::Folder : S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
}

bool Readable(const std::string& path, std::string& reason) {
    if (access(path.c_str(), R_OK) == 0) return true;
    reason = std::strerror(errno);
    return false;
}

bool WritableFolder(const std::string& folder, std::string& reason) {
    if (access(folder.c_str(), W_OK) == 0) return true;
    reason = std::strerror(errno);
    return false;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

std::string FolderOf(const std::string& absolutePath) { return absolutePath.substr(0, absolutePath.rfind('/') + 1); }

std::unique_ptr<Profile> UserProfile() { return MakeQSettingsProfile(u"BootloaderZL"); }

const char* PortOptionHelp() {
    return "  --port P       the port: COMn (a link comN in ~/.config/Hallwyn/ports/, else COM1-32 = /dev/ttyS0-31,\n"
           "                 COM33-64 = /dev/ttyUSB0-31, COM65-96 = /dev/ttyACM0-31) or a device path\n"
           "                 (/dev/ttyUSB0, /dev/serial/by-id/...)\n";
}

const char* PortsLinkUsage() { return "  bzl ports  link N DEVICE | unlink N\n"; }

const char* RecordsPathHelp() { return "$XDG_STATE_HOME/Hallwyn/BootloaderZL/records.ndjson"; }

const char* PortsCommandHelp() {
    return "usage: bzl ports [--json]\n"
           "       bzl ports link N DEVICE\n"
           "       bzl ports unlink N\n\n"
           "Lists every COM number that resolves to a device: the path behind it, whether it comes from a\n"
           "link in the port directory or from the default table, and its state: usable, busy (with the\n"
           "holding program), permission denied (with the fix), not a serial line, missing. Warns when\n"
           "ModemManager runs (it probes new USB serial adapters and disturbs bootloaders).\n\n"
           "link N DEVICE  gives DEVICE the number N: creates the link comN in ~/.config/Hallwyn/ports/,\n"
           "               to DEVICE's /dev/serial/by-id (or by-path) name when it has one, so that COMn\n"
           "               follows the adapter whatever ttyUSB number it gets\n"
           "unlink N       removes the link comN\n\n"
           "  --json         one JSON object per port on stdout\n\n"
           "Exit codes: 0 done; 1 usage or the link could not be made.\n";
}

}  // namespace zl::cli
