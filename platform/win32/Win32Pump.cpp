#include "platform/win32/Win32Pump.h"

#include "platform/win32/Win32Handles.h"
#include "platform/win32/Win32Internal.h"

#include <exception>
#include <thread>

namespace plat::win32 {

bool DispatchPendingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // The main loop must still see it and end.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    if (PreTranslateMessage(msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void RunWhilePumping(const std::function<void()>& work, const std::function<void()>& onTick) {
  KernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) {
    work(); // no event to wait on: the work runs here, as it always could
    return;
  }
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    SetEvent(done.get());
  });
  HANDLE event = done.get();
  bool pumping = true;
  ULONGLONG nextTick = GetTickCount64() + kPumpTickMs;
  for (;;) {
    DWORD wait = INFINITE;
    if (onTick) {
      ULONGLONG now = GetTickCount64();
      if (now >= nextTick) {
        // A tick that throws must not leave the worker running unjoined.
        try {
          onTick();
        } catch (...) {
        }
        nextTick = now + kPumpTickMs;
      }
      wait = static_cast<DWORD>(nextTick - now > kPumpTickMs ? kPumpTickMs : nextTick - now);
    }
    DWORD woke = pumping ? MsgWaitForMultipleObjects(1, &event, FALSE, wait, QS_ALLINPUT)
                         : WaitForSingleObject(event, wait);
    if (woke == WAIT_TIMEOUT)
      continue;
    if (woke == WAIT_OBJECT_0 + 1 && pumping) {
      pumping = DispatchPendingMessages();
      continue;
    }
    if (woke != WAIT_OBJECT_0)
      WaitForSingleObject(event, INFINITE); // the wait itself failed
    break;
  }
  worker.join();
  if (failure)
    std::rethrow_exception(failure);
}

} // namespace plat::win32
