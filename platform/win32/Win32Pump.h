// Long blocking work off the window's thread: the work runs on a worker
// thread while the calling thread keeps handling its window messages, so the
// window repaints and answers the operator (and the system's hung-window
// check) during a download or an extraction.
#pragma once

#include <functional>

namespace plat::win32 {

// Runs `work` on a worker thread and returns once it has ended, rethrowing
// what it threw. Meanwhile the calling thread's pending messages are
// dispatched as they arrive. The work must not touch windows of this thread:
// their messages would wait for it. After a WM_QUIT the pump stops (the quit
// is left for the main loop) and the call simply waits.
void RunWhilePumping(const std::function<void()>& work);

// Dispatches every pending message of the calling thread once. False when a
// WM_QUIT was met; it is posted again for the main loop to see.
bool DispatchPendingMessages();

} // namespace plat::win32
