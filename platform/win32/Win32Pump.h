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
// When `onTick` is given, it runs on the calling thread every kPumpTickMs
// or so while the work goes on: the place to draw the work's progress.
void RunWhilePumping(const std::function<void()>& work, const std::function<void()>& onTick = {});

inline constexpr unsigned kPumpTickMs = 200;

// Dispatches every pending message of the calling thread once. False when a
// WM_QUIT was met; it is posted again for the main loop to see.
bool DispatchPendingMessages();

} // namespace plat::win32
