// Other processes' windows, what the launcher does to them, process starts and
// the registry: what following the HMI after its start needs.
//
// Failures come back as values (a null handle, false, nothing, a Delivery): a
// window that is gone or a process that did not start is an answer the launch
// sequence decides on, not an error.
#pragma once

#include "platform/Stop.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat {

// A top-level window of any process. Opaque: only the platform layer knows
// what the number means. None (0) stands for "no window".
enum class WindowHandle : uint64_t { None = 0 };

// The exit code of a process that still runs.
inline constexpr uint32_t kStillActive = 259;

// How another program's window took what the launcher asked of it.
enum class Delivery : uint8_t {
  Taken,    // handled in time
  TimedOut, // the window's thread did not handle it within the limit (hung, busy)
  Gone,     // there is no such window
  Stopped,  // the operator closed the launcher meanwhile; nothing more was sent
};

// How a window is to be shown.
enum class ShowAs : uint8_t { Hidden, Shown, Maximized, Minimized, Restored };

// Where a window goes in the z-order, its position and size kept.
enum class Stacking : uint8_t { Bottom, Topmost, NoTopmost };

// What a wait for the launcher's own messages ended with.
enum class WaitEnd : uint8_t { Message, TimedOut, Failed };

struct WindowRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// Top-level windows of the desktop the launcher runs on: finding them, and
// what the launcher does to another program's window, said as intents (as a
// typing tool would: type this text, press Tab, move it away). How each
// intent becomes window messages, flags and handles is the platform's
// business. Every intent that waits for the other program has a time limit
// and gives up at once when the launcher is being closed; while it waits, the
// launcher's own messages keep running.
class IWindows {
public:
  virtual ~IWindows() = default;
  // The first top-level window from the top of the z-order whose class name
  // and whole title equal the given ones, letter case aside; an absent
  // criterion matches anything; hidden windows count.
  virtual WindowHandle FindWindow(const std::optional<std::string>& className,
                                  const std::optional<std::string>& title) = 0;
  // Every top-level window that FindWindow would match, from the top of the
  // z-order down: the first one may belong to any program.
  virtual std::vector<WindowHandle> FindWindows(const std::optional<std::string>& className,
                                                const std::optional<std::string>& title) = 0;
  // The id of the process that made the window; 0 when the window is gone.
  virtual uint32_t WindowProcessId(WindowHandle window) = 0;
  virtual WindowHandle GetForegroundWindow() = 0;
  // True only for a window that exists now.
  virtual bool IsWindow(WindowHandle window) = 0;
  virtual std::optional<WindowRect> GetWindowRect(WindowHandle window) = 0;

  // Draws attention to the window (its caption flashes once).
  virtual bool Flash(WindowHandle window) = 0;
  virtual bool BringToFront(WindowHandle window) = 0;
  virtual bool Restack(WindowHandle window, Stacking where) = 0;
  // Whether the window was visible before.
  virtual bool Show(WindowHandle window, ShowAs how) = 0;
  // Moves the window to (x, y) with the given size, repainted; false when the
  // window refused or is gone.
  virtual bool Move(WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height) = 0;
  // Asks the window to close and waits up to `timeoutMs` for its answer.
  virtual Delivery AskToClose(WindowHandle window, uint32_t timeoutMs, const StopFlag& stop) = 0;
  // Waits up to `timeoutMs` until the window's thread takes messages.
  virtual Delivery WaitUntilReady(WindowHandle window, uint32_t timeoutMs,
                                  const StopFlag& stop) = 0;
  // Types the text, one character (UTF-16 code unit) after the other, each
  // handled by the window before the next goes; each gets `perKeyTimeoutMs`.
  // Ends at the first character not taken: nothing after it is typed.
  virtual Delivery TypeText(WindowHandle window, const std::string& text, uint32_t perKeyTimeoutMs,
                            const StopFlag& stop) = 0;
  // Queues Tab (the next field) and returns at once.
  virtual bool PressTab(WindowHandle window) = 0;
  // Queues Enter, pressed and released (submits the form), and returns at once.
  virtual bool PressEnter(WindowHandle window) = 0;

  // Sleeps until a message for the launcher's own thread arrives or the time
  // is up; the message is left for the caller to process.
  virtual WaitEnd WaitForMessages(uint32_t timeoutMs) = 0;
};

// Where a started program's first window goes, in screen coordinates.
struct WindowPlacement {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct ScreenSize {
  int32_t width = 0;
  int32_t height = 0;
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
  // Starts the program at the start of `commandLine` (unquoted paths tried at
  // each blank as the system does), handles not inherited, the launcher's
  // environment, its first window shown normally at `placement`. The process
  // handle comes back and stays open while the launcher runs (so the process
  // id names no other process); nothing when the start failed.
  virtual std::optional<uint32_t> CreateProcess(const std::string& commandLine,
                                                const std::string& currentDirectory,
                                                const WindowPlacement& placement) = 0;
  // The exit code of a started process (kStillActive while it runs); nothing
  // when the handle cannot be read.
  virtual std::optional<uint32_t> GetExitCodeProcess(uint32_t process) = 0;
  // The id of the process behind a handle CreateProcess gave; 0 when the
  // handle is not one. While the handle is open the id names no other
  // process, even after the process ended.
  virtual uint32_t ProcessIdOf(uint32_t process) = 0;
  // The processes running now (a snapshot); empty when the snapshot failed.
  virtual std::vector<ProcessEntry> RunningProcesses() = 0;
  // The full path of the program a running process was started from;
  // nothing when it cannot be read.
  virtual std::optional<std::string> ProcessImagePath(uint32_t processId) = 0;
  // The size of the virtual screen (all monitors).
  virtual ScreenSize VirtualScreen() = 0;
};

// Read-only tests under HKEY_CURRENT_USER.
class IRegistry {
public:
  virtual ~IRegistry() = default;
  // Whether the value exists, of any type, in the key; a key that does not
  // open for reading reads as false. The key is never created.
  virtual bool ValueExists(const std::string& keyName, const std::string& valueName) = 0;
};

} // namespace plat
