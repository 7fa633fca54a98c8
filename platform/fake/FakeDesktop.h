// In-memory desktop for the unit tests: other processes' top-level windows
// that come and go on the fake clock, the processes the launcher starts, and
// the values of HKEY_CURRENT_USER.
//
// Time is FakeSystem::tick. It passes in FakeSystem::Sleep, in
// MsgWaitForEvent (up to the next scripted change, or the whole time-out) and
// in a SendMessageTimeout to a hung window; nowhere else. Scripted ticks are
// compared with wrap-around in mind, so a script may start just before the
// 32-bit tick count wraps.
#pragma once

#include "platform/Desktop.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

class FakeSystem;
class FakeFileSystem;

// True once the clock has reached `at` (modulo 2^32: `at` up to 2^31 ms ahead
// is still to come).
bool TickReached(uint32_t now, uint32_t at);

// A top-level window of another process, as a test scripts it.
struct FakeWindow {
  std::string title = {};
  std::string className = "SunAwtFrame";
  plat::WindowRect rect{560, 240, 1360, 840};
  // Appears at this tick; nothing: there from the start.
  std::optional<uint32_t> opensAt = std::nullopt;
  // Goes away by itself at this tick.
  std::optional<uint32_t> closesAt = std::nullopt;
  // Its coming and going wakes a message wait (as the focus and activation
  // messages that a new window causes would). Off: nothing tells the waiter.
  bool wakes = true;
  bool refusesClose = false; // handles WM_CLOSE and stays
  bool refusesMove = false;  // MoveWindow fails
  bool hung = false;         // its thread takes no sent message
};

class FakeWindows : public plat::IWindows {
public:
  explicit FakeWindows(FakeSystem& system) : system_(system) {}

  // Scripts a window; returns the handle it has once it exists.
  plat::WindowHandle Add(FakeWindow window);
  // The script of a window, to change it while a test runs.
  FakeWindow& Script(plat::WindowHandle window);
  // Whether the window exists at the current tick.
  bool Exists(plat::WindowHandle window) const;
  // What WM_CHAR has typed into the window, as UTF-8.
  std::string Typed(plat::WindowHandle window) const;
  // The last ShowWindow command it got (1, SW_SHOWNORMAL, at first).
  int32_t ShowState(plat::WindowHandle window) const;

  // Every message and window operation, in order, one line each:
  //   "WM_CHAR 'a' -> Login (gw1)"            sent
  //   "POST WM_KEYDOWN VK_TAB -> Login (gw1)"  posted
  //   "SendMessageTimeout WM_NULL SMTO 0x1 4000 ms -> Login (gw1)"
  //   "MoveWindow 20000,20000 800x600 -> Login (gw1)"
  //   "ShowWindow SW_HIDE -> Warning", "SetWindowPos HWND_TOPMOST flags 0x13 -> Warning"
  // A target that does not exist shows as "(no window)"; a refused move or a
  // timed-out send ends in " (refused)" or " (timed out)".
  std::vector<std::string> journal;
  // Ticks at which a message for the launcher's own thread arrives (an
  // operator's click, a timer): they wake a message wait.
  std::vector<uint32_t> ownMessagesAt;
  // The time-outs MsgWaitForEvent was called with, in order.
  std::vector<uint32_t> waits;
  int findCalls = 0;
  int eventsCreated = 0;
  // CloseEvent on a handle that was not open.
  int badEventCloses = 0;
  // The foreground window (when it exists).
  plat::WindowHandle foreground = plat::WindowHandle::None;
  // Runs after a live window got a sent or posted message: how the other
  // process reacts (a login form that closes on Enter, say).
  std::function<void(plat::WindowHandle, uint32_t message, uint64_t wParam, bool posted)> onMessage;

  size_t OpenEvents() const { return openEvents_.size(); }

  // FindWindow compares ASCII letters without regard to case; the latest
  // window added counts as the top of the z-order.
  plat::WindowHandle FindWindow(const std::optional<std::string>& className,
                                const std::optional<std::string>& title) override;
  plat::WindowHandle GetForegroundWindow() override;
  bool IsWindow(plat::WindowHandle window) override { return Exists(window); }
  bool FlashWindow(plat::WindowHandle window, bool invert) override;
  bool SetForegroundWindow(plat::WindowHandle window) override;
  bool SetWindowPos(plat::WindowHandle window, int64_t insertAfter, int32_t x, int32_t y,
                    int32_t cx, int32_t cy, uint32_t flags) override;
  bool ShowWindow(plat::WindowHandle window, int32_t command) override;
  std::optional<plat::WindowRect> GetWindowRect(plat::WindowHandle window) override;
  bool MoveWindow(plat::WindowHandle window, int32_t x, int32_t y, int32_t width, int32_t height,
                  bool repaint) override;
  bool PostMessage(plat::WindowHandle window, uint32_t message, uint64_t wParam,
                   int64_t lParam) override;
  // A send to a hung window would never return: the fake throws
  // std::logic_error so that the test fails instead of hanging.
  int64_t SendMessage(plat::WindowHandle window, uint32_t message, uint64_t wParam,
                      int64_t lParam) override;
  bool SendMessageTimeout(plat::WindowHandle window, uint32_t message, uint64_t wParam,
                          int64_t lParam, uint32_t flags, uint32_t timeoutMs) override;
  plat::EventHandle CreateEvent() override;
  // Advances the clock to the first scripted change after now and within the
  // time-out (a window that wakes, or an own message) and answers
  // kWaitObject0 + 1; with none, by the whole time-out, answering
  // kWaitTimeout. An event that is not open fails at once (0xFFFFFFFF).
  uint32_t MsgWaitForEvent(plat::EventHandle event, uint32_t timeoutMs, uint32_t wakeMask) override;
  bool CloseEvent(plat::EventHandle event) override;

private:
  struct Window {
    FakeWindow script;
    plat::WindowHandle handle = plat::WindowHandle::None;
    bool closed = false; // by WM_CLOSE
    int32_t showState = 1;
    std::u16string typed;
  };
  Window* Live(plat::WindowHandle window);
  const Window* Find(plat::WindowHandle window) const;
  bool Alive(const Window& w) const;
  // Journals the operation on the window and returns it when it exists.
  Window* Target(plat::WindowHandle window, const std::string& what);
  void Deliver(Window& w, uint32_t message, uint64_t wParam, bool posted);

  FakeSystem& system_;
  std::vector<Window> windows_;
  std::set<uint64_t> openEvents_;
  uint64_t nextEvent_ = 0x3000;
};

// One CreateProcess call as the fake saw it.
struct ProcessStart {
  std::string commandLine;
  std::string currentDirectory;
  plat::StartupInfo startup;
  // The program file the command line resolved to; empty when none did.
  std::string program;
  bool started = false;
};

class FakeProcesses : public plat::IProcesses {
public:
  explicit FakeProcesses(FakeFileSystem& files) : files_(files) {}

  // Every call, failed ones included.
  std::vector<ProcessStart> starts;
  // When set, a start needs its program file and its working directory in
  // the fake file system, the program found as the system finds it in an
  // unquoted command line (each blank-separated prefix in turn, ".exe" added
  // to a name without extension). Off: every start succeeds.
  bool checkFiles = true;
  // Every start fails.
  bool refuseStarts = false;
  // Runs after a successful start: what the new process will do (its
  // windows, registry values), scripted on the fake clock.
  std::function<void(const ProcessStart&, const plat::StartedProcess&)> onStart;
  std::map<int32_t, int32_t> metrics{{78, 1920}, {79, 1080}};
  std::vector<uint32_t> inputIdleWaits;
  // CloseHandle of a handle that was not open.
  int badCloses = 0;

  // The process ends with this exit code.
  void Exit(uint32_t process, uint32_t exitCode);
  bool IsOpen(uint32_t handle) const { return open_.count(handle) > 0; }
  size_t OpenHandles() const { return open_.size(); }

  std::optional<plat::StartedProcess> CreateProcess(const std::string& commandLine,
                                                    const std::string& currentDirectory,
                                                    const plat::StartupInfo& startup) override;
  void WaitForInputIdle(uint32_t process) override { inputIdleWaits.push_back(process); }
  std::optional<uint32_t> GetExitCodeProcess(uint32_t process) override;
  void CloseHandle(uint32_t handle) override;
  int32_t GetSystemMetrics(int32_t index) override;

private:
  std::string ResolveProgram(const std::string& commandLine) const;

  FakeFileSystem& files_;
  std::set<uint32_t> open_;
  std::map<uint32_t, uint32_t> exitCodes_; // by process handle
  uint32_t nextHandle_ = 0x1c0;
};

// HKEY_CURRENT_USER: keys and value names compare without regard to ASCII
// case. A key exists once it was added or one of its values exists.
class FakeRegistry : public plat::IRegistry {
public:
  explicit FakeRegistry(FakeSystem& system) : system_(system) {}

  // A value that exists from `appearsAt` on (from the start without one).
  void AddValue(const std::string& key, const std::string& name,
                std::optional<uint32_t> appearsAt = std::nullopt);
  void AddKey(const std::string& key);
  // Keys whose opening is refused (access denied).
  std::set<std::string> deniedKeys;
  // "open KEY 0x20019", "open KEY 0x20019 (failed)", "query NAME", "close".
  std::vector<std::string> journal;
  // CloseKey of a handle that was not open.
  int badCloses = 0;
  size_t OpenKeys() const { return open_.size(); }

  plat::RegistryKey OpenCurrentUserKey(const std::string& keyName, uint32_t access) override;
  bool ValueExists(plat::RegistryKey key, const std::string& valueName) override;
  void CloseKey(plat::RegistryKey key) override;

private:
  bool KeyExists(const std::string& lowerKey) const;

  struct Value {
    std::string key; // lower case
    std::string name;
    std::optional<uint32_t> appearsAt;
  };
  FakeSystem& system_;
  std::vector<Value> values_;
  std::set<std::string> keys_;
  std::map<uint64_t, std::string> open_; // handle -> lower-case key
  uint64_t nextKey_ = 0x80;
};

} // namespace fake
