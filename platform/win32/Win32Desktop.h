// Other processes' windows, process starts and the registry on Win32.
//
// The interface names a few of its methods as <windows.h> spells macros
// (FindWindow, CreateProcess). This layer calls the wide functions by their full names, so
// those macros go before the interface is seen; otherwise the members would be
// renamed in some translation units and not in others.
#pragma once

#include "platform/win32/Win32Api.h"

#undef FindWindow
#undef CreateProcess

#include "platform/Desktop.h"
#include "platform/win32/Win32Handles.h"

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
  std::optional<WindowRect> GetWindowRect(WindowHandle window) override;
  bool Flash(WindowHandle window) override;
  bool BringToFront(WindowHandle window) override;
  bool Restack(WindowHandle window, Stacking where) override;
  bool Show(WindowHandle window, ShowAs how) override;
  bool Move(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height) override;
  Delivery AskToClose(WindowHandle window, uint32_t timeoutMs, const StopFlag& stop) override;
  Delivery WaitUntilReady(WindowHandle window, uint32_t timeoutMs, const StopFlag& stop) override;
  Delivery TypeText(WindowHandle window, const std::string& text, uint32_t perKeyTimeoutMs,
                    const StopFlag& stop) override;
  bool PressTab(WindowHandle window) override;
  bool PressEnter(WindowHandle window) override;
  WaitEnd WaitForMessages(uint32_t timeoutMs) override;
};

// An empty `currentDirectory` starts the program in the launcher's own
// working directory. The handles of the processes it started stay open until
// the object ends (with the program).
class Win32Processes : public IProcesses {
public:
  std::optional<uint32_t> CreateProcess(const std::string& commandLine,
                                        const std::string& currentDirectory,
                                        const WindowPlacement& placement) override;
  std::optional<uint32_t> GetExitCodeProcess(uint32_t process) override;
  uint32_t ProcessIdOf(uint32_t process) override;
  std::vector<ProcessEntry> RunningProcesses() override;
  std::optional<std::string> ProcessImagePath(uint32_t processId) override;
  ScreenSize VirtualScreen() override;

private:
  std::vector<KernelHandle> started_;
};

class Win32Registry : public IRegistry {
public:
  bool ValueExists(const std::string& keyName, const std::string& valueName) override;
};

} // namespace plat::win32
