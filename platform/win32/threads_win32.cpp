// Worker threads and pauses on Win32. The process asks for 1 ms timer resolution at
// start-up (WinMain), so that Sleep and the waits of the serial port keep their times.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/threads.h"
#include "platform/win32/win_api.h"

namespace zl {
namespace {

std::mutex g_mutex;
std::condition_variable g_idle;
int g_running = 0;

}  // namespace

void StartThread(std::function<void()> proc, int priority) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_running;
    }
    std::thread([proc = std::move(proc), priority] {
        if (priority != THREAD_PRIORITY_NORMAL) SetThreadPriority(GetCurrentThread(), priority);
        proc();
        std::lock_guard<std::mutex> lock(g_mutex);
        if (--g_running == 0) g_idle.notify_all();
    }).detach();
}

void Sleep(unsigned ms) { ::Sleep(ms); }

int RunningThreads() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_running;
}

bool WaitForThreads(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return g_running == 0; });
}

}  // namespace zl
