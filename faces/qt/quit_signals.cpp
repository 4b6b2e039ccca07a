#include "faces/qt/quit_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

namespace zl {
namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int sig) {
    // Async-signal-safe: one byte into a pipe that the main loop watches.
    const int saved = errno;
    const char byte = static_cast<char>(sig);
    ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

}  // namespace

void QuitOnSignals(std::function<void(int)> onSignal) {
    if (g_pipe[0] >= 0 || pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        char byte;
        while (read(g_pipe[0], &byte, 1) == 1) onSignal(static_cast<unsigned char>(byte));
    });
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(sig, &sa, nullptr);
    }
}

}  // namespace zl
