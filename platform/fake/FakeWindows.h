// Other processes' top-level windows that come and go on the fake clock, and
// a journal of every message and window operation.
#pragma once

#include "platform/Desktop.h"
#include "platform/fake/FakeSystem.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

class FakeProcesses;

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
  // The process that made it. 0: on a desktop that knows the fake
  // processes, the process started last before the window was added, or,
  // when none was, an HMI of an earlier launch; otherwise none.
  uint32_t processId = 0;
};

// One message or window operation as the fake desktop saw it.
struct JournalEntry {
  enum Via : uint8_t {
    Sent,            // SendMessage
    Posted,          // PostMessage
    SentWithTimeout, // SendMessageTimeout
    Call,            // a window operation (MoveWindow, ShowWindow, ...)
  };
  Via via = Call;
  // The message ("WM_CHAR", "WM_KEYDOWN", "WM_0x400") or the operation
  // ("MoveWindow", "ShowWindow", "SetWindowPos", "FlashWindow",
  // "SetForegroundWindow").
  std::string message;
  // Its arguments as text: "'a'" or "U+00E9" for a character, "VK_TAB",
  // "wParam=3 lParam=4", "20000,20000 800x600", "SW_HIDE",
  // "HWND_TOPMOST flags 0x13", "TRUE"; empty when it has none.
  std::string text;
  // The target's title when it existed; `found` false: no such window.
  std::string target;
  plat::WindowHandle window = plat::WindowHandle::None;
  bool found = false;
  // "refused" (a move the window refused), "timed out" (a send to a hung
  // window), or empty.
  std::string outcome;
  // The message's number and parameters (0 for an operation).
  uint32_t code = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;
  // SendMessageTimeout's flags and time.
  uint32_t flags = 0;
  uint32_t timeoutMs = 0;

  // The entry as one line:
  //   "WM_CHAR 'a' -> Login (gw1)"            sent
  //   "POST WM_KEYDOWN VK_TAB -> Login (gw1)"  posted
  //   "SendMessageTimeout WM_NULL SMTO 0x1 4000 ms -> Login (gw1)"
  //   "MoveWindow 20000,20000 800x600 -> Login (gw1)"
  //   "ShowWindow SW_HIDE -> Warning", "SetWindowPos HWND_TOPMOST flags 0x13 -> Warning"
  // A target that does not exist shows as "(no window)"; a refused move or a
  // timed-out send ends in " (refused)" or " (timed out)".
  std::string Line() const;
};

// The records of the fake desktop, and beside them their lines (as
// JournalEntry::Line renders them) read like a vector of strings, so that a
// test may compare either.
class DesktopJournal {
public:
  using value_type = std::string;
  using const_iterator = std::vector<std::string>::const_iterator;
  using iterator = const_iterator;
  using size_type = std::size_t;

  void Add(JournalEntry entry);
  const std::vector<JournalEntry>& Records() const { return records_; }
  // The records sent or posted to one window, or of one message.
  std::vector<JournalEntry> To(plat::WindowHandle window) const;
  std::vector<JournalEntry> Of(const std::string& message) const;
  const std::vector<std::string>& Lines() const { return lines_; }

  const_iterator begin() const { return lines_.begin(); }
  const_iterator end() const { return lines_.end(); }
  size_type size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  const std::string& front() const { return lines_.front(); }
  const std::string& back() const { return lines_.back(); }
  const std::string& operator[](size_type i) const { return lines_[i]; }
  void clear() {
    records_.clear();
    lines_.clear();
  }

private:
  std::vector<JournalEntry> records_;
  std::vector<std::string> lines_;
};

class FakeWindows : public plat::IWindows {
public:
  explicit FakeWindows(FakeSystem& system, FakeProcesses* processes = nullptr)
      : system_(system), processes_(processes) {}

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

  // Every message and window operation, in order (see DesktopJournal).
  DesktopJournal journal;
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
  // Every live window FindWindow would match, latest added first.
  std::vector<plat::WindowHandle> FindWindows(const std::optional<std::string>& className,
                                              const std::optional<std::string>& title) override;
  uint32_t WindowProcessId(plat::WindowHandle window) override;
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
  Window* Target(plat::WindowHandle window, JournalEntry entry);
  void Deliver(Window& w, uint32_t message, uint64_t wParam, bool posted);

  FakeSystem& system_;
  FakeProcesses* processes_;
  std::vector<Window> windows_;
  std::set<uint64_t> openEvents_;
  uint64_t nextEvent_ = 0x3000;
};

} // namespace fake
