// Other processes' windows, process starts and the registry on Win32.
//
// The interface names a few of its methods as <windows.h> spells macros
// (FindWindow, PostMessage, SendMessage, SendMessageTimeout, CreateEvent,
// CreateProcess). This layer calls the wide functions by their full names, so
// those macros go before the interface is seen; otherwise the members would be
// renamed in some translation units and not in others.
#pragma once

#include "platform/win32/Win32Api.h"

#undef FindWindow
#undef PostMessage
#undef SendMessage
#undef SendMessageTimeout
#undef CreateEvent
#undef CreateProcess

#include "platform/Desktop.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat::win32 {

// A window handle as the logic carries it, and back.
inline plat::WindowHandle ToWindowHandle(HWND window) {
  return static_cast<plat::WindowHandle>(reinterpret_cast<uintptr_t>(window));
}
inline HWND ToHwnd(plat::WindowHandle window) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
}

// Kernel handles fit in 32 bits (the system keeps them there so that 32- and
// 64-bit processes can share them); the logic carries them as the low 32 bits,
// and they are widened again by sign extension, which also keeps the pseudo
// handles (-1, -2) intact.
inline uint32_t ToHandle32(HANDLE handle) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle));
}
inline HANDLE FromHandle32(uint32_t handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(handle)));
}

class Win32Windows : public IWindows {
public:
  WindowHandle FindWindow(const std::optional<std::string>& className,
                          const std::optional<std::string>& title) override;
  std::vector<WindowHandle> FindWindows(const std::optional<std::string>& className,
                                        const std::optional<std::string>& title) override;
  uint32_t WindowProcessId(WindowHandle window) override;
  WindowHandle GetForegroundWindow() override;
  bool IsWindow(WindowHandle window) override;
  bool FlashWindow(WindowHandle window, bool invert) override;
  bool SetForegroundWindow(WindowHandle window) override;
  bool SetWindowPos(WindowHandle window, int64_t insertAfter, int32_t x, int32_t y, int32_t cx,
                    int32_t cy, uint32_t flags) override;
  bool ShowWindow(WindowHandle window, int32_t command) override;
  std::optional<WindowRect> GetWindowRect(WindowHandle window) override;
  bool MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height,
                  bool repaint) override;
  bool PostMessage(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) override;
  int64_t SendMessage(WindowHandle window, uint32_t message, uint64_t wParam,
                      int64_t lParam) override;
  bool SendMessageTimeout(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam,
                          uint32_t flags, uint32_t timeoutMs) override;
  EventHandle CreateEvent() override;
  uint32_t MsgWaitForEvent(EventHandle event, uint32_t timeoutMs, uint32_t wakeMask) override;
  bool CloseEvent(EventHandle event) override;
};

// An empty `currentDirectory` starts the program in the launcher's own
// working directory.
class Win32Processes : public IProcesses {
public:
  std::optional<StartedProcess> CreateProcess(const std::string& commandLine,
                                              const std::string& currentDirectory,
                                              const StartupInfo& startup) override;
  void WaitForInputIdle(uint32_t process) override;
  std::optional<uint32_t> GetExitCodeProcess(uint32_t process) override;
  void CloseHandle(uint32_t handle) override;
  uint32_t ProcessIdOf(uint32_t process) override;
  std::vector<ProcessEntry> RunningProcesses() override;
  std::optional<std::string> ProcessImagePath(uint32_t processId) override;
  int32_t GetSystemMetrics(int32_t index) override;
};

class Win32Registry : public IRegistry {
public:
  plat::RegistryKey OpenCurrentUserKey(const std::string& keyName, uint32_t access) override;
  bool ValueExists(plat::RegistryKey key, const std::string& valueName) override;
  void CloseKey(plat::RegistryKey key) override;
};

} // namespace plat::win32
