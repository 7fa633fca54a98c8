// Other processes' windows, the messages sent to them, process starts and the
// registry: what following the HMI after its start needs.
//
// One method per system call, thin on purpose. Failures come back as values
// (a null handle, false, nothing): a window that is gone or a process that
// did not start is an answer the launch sequence decides on, not an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// A top-level window of any process. Opaque: only the platform layer knows
// what the number means. None (0) stands for "no window".
enum class WindowHandle : uint64_t { None = 0 };

// The insert-after windows of SetWindowPos that are not real windows.
inline constexpr int64_t kHwndTop = 0;
inline constexpr int64_t kHwndBottom = 1;
inline constexpr int64_t kHwndTopmost = -1;
inline constexpr int64_t kHwndNoTopmost = -2;

// Message numbers, virtual keys and flags as the system defines them.
inline constexpr uint32_t kWmNull = 0x0000;
inline constexpr uint32_t kWmSetFocus = 0x0007;
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmKeyDown = 0x0100;
inline constexpr uint32_t kWmKeyUp = 0x0101;
inline constexpr uint32_t kWmChar = 0x0102;
inline constexpr uint16_t kVkTab = 9;
inline constexpr uint16_t kVkReturn = 13;
inline constexpr uint32_t kSmtoBlock = 0x0001;
inline constexpr uint32_t kQsAllInput = 0x1CFF;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kStillActive = 259;

struct WindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// An unnamed event created only to give a message wait an object.
enum class EventHandle : uint64_t { None = 0 };

// Top-level windows and messages of the desktop the launcher runs on.
class IWindows {
public:
  virtual ~IWindows() = default;
  // FindWindowW: the first top-level window from the top of the z-order whose
  // class name and whole title equal the given ones, letter case aside;
  // an absent criterion matches anything; hidden windows count.
  virtual WindowHandle FindWindow(const std::optional<std::string>& className,
                                  const std::optional<std::string>& title) = 0;
  // Every top-level window that FindWindow would match, from the top of the
  // z-order down (EnumWindows): the first one may belong to any program.
  virtual std::vector<WindowHandle> FindWindows(const std::optional<std::string>& className,
                                                const std::optional<std::string>& title) = 0;
  // GetWindowThreadProcessId: the id of the process that made the window; 0
  // when the window is gone.
  virtual uint32_t WindowProcessId(WindowHandle window) = 0;
  virtual WindowHandle GetForegroundWindow() = 0;
  // True only for a window that exists now.
  virtual bool IsWindow(WindowHandle window) = 0;
  virtual bool FlashWindow(WindowHandle window, bool invert) = 0;
  virtual bool SetForegroundWindow(WindowHandle window) = 0;
  // `insertAfter` is a window handle's value or one of the kHwnd constants.
  virtual bool SetWindowPos(WindowHandle window, int64_t insertAfter, int32_t x, int32_t y,
                            int32_t cx, int32_t cy, uint32_t flags) = 0;
  virtual bool ShowWindow(WindowHandle window, int32_t command) = 0;
  virtual std::optional<WindowRect> GetWindowRect(WindowHandle window) = 0;
  virtual bool MoveWindow(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height,
                          bool repaint) = 0;
  // Queues the message and returns at once.
  virtual bool PostMessage(WindowHandle window, uint32_t message, uint64_t wParam,
                           int64_t lParam) = 0;
  // Delivers the message and waits, without limit, until it was handled.
  virtual int64_t SendMessage(WindowHandle window, uint32_t message, uint64_t wParam,
                              int64_t lParam) = 0;
  // Delivers the message and waits at most `timeoutMs`; false when it failed
  // or timed out.
  virtual bool SendMessageTimeout(WindowHandle window, uint32_t message, uint64_t wParam,
                                  int64_t lParam, uint32_t flags, uint32_t timeoutMs) = 0;

  // CreateEventW: an unnamed auto-reset event, not signalled. None on failure.
  virtual EventHandle CreateEvent() = 0;
  // MsgWaitForMultipleObjects on the one event, not waiting for all: returns
  // kWaitObject0 when the event was signalled, kWaitObject0 + 1 when input or
  // messages of the wake mask arrived for this thread, kWaitTimeout when the
  // time ran out, anything else on failure.
  virtual uint32_t MsgWaitForEvent(EventHandle event, uint32_t timeoutMs, uint32_t wakeMask) = 0;
  virtual bool CloseEvent(EventHandle event) = 0;
};

// The values of STARTUPINFOW that the launcher fills.
struct StartupInfo {
  uint32_t flags = 0; // STARTF_USESHOWWINDOW | STARTF_USESIZE | STARTF_USEPOSITION = 7
  uint16_t showWindow = 0;
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t xSize = 0;
  uint32_t ySize = 0;
};

// What CreateProcessW hands back on success.
struct StartedProcess {
  uint32_t process = 0; // process handle; stays open for its owner
  uint32_t thread = 0;  // thread handle; to be closed
};

// One process of the machine as a snapshot lists it.
struct ProcessEntry {
  uint32_t id = 0;
  // The process that started it. It may have ended since, and its id may
  // then name a later process: `started` tells them apart.
  uint32_t parentId = 0;
  // The program's file name ("javaw.exe"), without its folder.
  std::string exeName;
  // When it started, in 100 ns steps of the system clock; 0 when that could
  // not be read (a process of another user, say).
  uint64_t started = 0;
};

class IProcesses {
public:
  virtual ~IProcesses() = default;
  // CreateProcessW with no application name (the program comes from the start
  // of `commandLine`, unquoted paths tried at each blank as the system does),
  // handles not inherited, creation flags 0, the launcher's environment.
  // Nothing when the start failed.
  virtual std::optional<StartedProcess> CreateProcess(const std::string& commandLine,
                                                      const std::string& currentDirectory,
                                                      const StartupInfo& startup) = 0;
  // WaitForInputIdle without a time limit.
  virtual void WaitForInputIdle(uint32_t process) = 0;
  // GetExitCodeProcess: nothing when the handle cannot be read.
  virtual std::optional<uint32_t> GetExitCodeProcess(uint32_t process) = 0;
  virtual void CloseHandle(uint32_t handle) = 0;
  // GetProcessId: the id of the process behind an open process handle; 0
  // when the handle is not one. While the handle is open the id names no
  // other process, even after the process ended.
  virtual uint32_t ProcessIdOf(uint32_t process) = 0;
  // The processes running now (a Toolhelp snapshot); empty when the snapshot
  // failed.
  virtual std::vector<ProcessEntry> RunningProcesses() = 0;
  // The full path of the program a running process was started from
  // (QueryFullProcessImageNameW); nothing when it cannot be read.
  virtual std::optional<std::string> ProcessImagePath(uint32_t processId) = 0;
  // GetSystemMetrics, e.g. 78 and 79 for the virtual screen's size.
  virtual int32_t GetSystemMetrics(int32_t index) = 0;
};

// Read-only tests under HKEY_CURRENT_USER.
enum class RegistryKey : uint64_t { None = 0 };

class IRegistry {
public:
  virtual ~IRegistry() = default;
  // Opens an existing key under HKEY_CURRENT_USER with `access` (KEY_READ is
  // 0x20019); never creates it. None when it did not open.
  virtual RegistryKey OpenCurrentUserKey(const std::string& keyName, uint32_t access) = 0;
  // Whether a value of that name, of any type, exists in the open key.
  virtual bool ValueExists(RegistryKey key, const std::string& valueName) = 0;
  virtual void CloseKey(RegistryKey key) = 0;
};

} // namespace plat
