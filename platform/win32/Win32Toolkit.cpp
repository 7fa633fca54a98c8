#include "platform/win32/LoginWindow.h"
#include "platform/win32/Win32Internal.h"
#include "platform/win32/Win32Platform.h"

#include <commctrl.h>

#include <utility>

namespace plat::win32 {

Win32Toolkit::Win32Toolkit() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES;
  InitCommonControlsEx(&controls);
}

std::unique_ptr<IFormView> Win32Toolkit::CreateLoginWindow(IFormEvents& events) {
  return std::make_unique<LoginWindow>(events);
}

void Win32Toolkit::RunMessageLoop() {
  if (auto work = std::exchange(whenLoopStarts_, nullptr))
    work();
  if (MainWindow() == nullptr) {
    // Closed before the loop began: take the quit request it left behind, if
    // any, and return rather than wait for a window that is gone.
    MSG quit;
    PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    return;
  }
  MSG msg;
  for (;;) {
    BOOL result = GetMessageW(&msg, nullptr, 0, 0);
    if (result == 0 || result == -1)
      return;
    if (PreTranslateMessage(msg))
      continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

} // namespace plat::win32
