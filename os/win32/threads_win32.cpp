// Worker threads and pauses on Win32. The process asks for 1 ms timer resolution at
// start-up (WinMain), so that Sleep and the waits of the serial port keep their times.
#include <thread>

#include "platform/threads.h"
#include "os/win32/win_api.h"

namespace zl {

void StartThread(std::function<void()> proc, int priority) {
    std::thread([proc = std::move(proc), priority] {
        if (priority != THREAD_PRIORITY_NORMAL) SetThreadPriority(GetCurrentThread(), priority);
        proc();
    }).detach();
}

void Sleep(unsigned ms) { ::Sleep(ms); }

}  // namespace zl
