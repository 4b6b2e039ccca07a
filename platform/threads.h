// Worker threads and pauses.
#pragma once

#include <functional>

namespace zl {

// Starts a detached thread; priority is THREAD_PRIORITY_NORMAL or
// THREAD_PRIORITY_TIME_CRITICAL (the highest the process may take without
// real-time scheduling). Whoever starts threads waits for them itself (the dialog
// counts its workers), so that several dialogs in one process never wait for each other.
void StartThread(std::function<void()> proc, int priority);
// Thrown by a face to end the calling worker thread (the process was asked to end from
// it); whoever starts workers catches it where the thread begins.
struct ThreadEnd {};
void Sleep(unsigned ms);

}  // namespace zl
