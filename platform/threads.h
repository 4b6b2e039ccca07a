// Worker threads and pauses.
#pragma once

#include <functional>

namespace zl {

// Starts a detached thread; priority is THREAD_PRIORITY_NORMAL or
// THREAD_PRIORITY_TIME_CRITICAL (the highest the process may take without
// real-time scheduling).
void StartThread(std::function<void()> proc, int priority);
void Sleep(unsigned ms);

// Number of threads started by StartThread that have not ended yet, and a bounded
// wait for all of them to end (used when a dialog is torn down, and by tests).
int RunningThreads();
bool WaitForThreads(unsigned timeoutMs);

}  // namespace zl
