#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/threads.h"
#include "platform/win32.h"

namespace zl {
namespace {

// Raises the calling thread to the best nice value the process may take; real-time
// scheduling is left alone, since a spinning writer at real-time priority would
// starve a small machine.
void RaiseThisThread() {
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    for (int nice = -20; nice < 0; ++nice)
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) return;
}

}  // namespace

void StartThread(std::function<void()> proc, int priority) {
    std::thread([proc = std::move(proc), priority] {
        if (priority >= THREAD_PRIORITY_TIME_CRITICAL) RaiseThisThread();
        proc();
    }).detach();
}

void Sleep(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace zl
