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
  bool refusesClose = false; // answers the close request and stays
  bool refusesMove = false;  // a move fails
  bool hung = false;         // its thread takes nothing: every wait for it times out
  // Takes this many characters, then hangs.
  std::optional<size_t> hangsAfterChars = std::nullopt;
  // The process that made it. 0: on a desktop that knows the fake
  // processes, the process started last before the window was added, or,
  // when none was, an HMI of an earlier launch; otherwise none.
  uint32_t processId = 0;
};

// One intent (or its keystroke) as the fake desktop saw it.
struct JournalEntry {
  // "type" (one per UTF-16 code unit), "Tab", "Enter", "ready", "close",
  // "move", "show", "restack", "flash", "to front".
  std::string intent;
  // Its arguments as text: "'a'" or "U+00E9" for a character, "4000 ms",
  // "20000,20000 800x600", "hidden", "topmost"; empty when it has none.
  std::string text;
  // The target's title when it existed; `found` false: no such window.
  std::string target;
  plat::WindowHandle window = plat::WindowHandle::None;
  bool found = false;
  // "refused" (a move the window refused), "timed out" (a hung window),
  // "stopped" (the launcher was closed first), or empty.
  std::string outcome;
  // The character of a "type" entry.
  char16_t unit = 0;

  // The entry as one line: "type 'a' -> Login (gw1)", "Tab -> Login (gw1)",
  // "ready 4000 ms -> Login (gw1) (timed out)", "move 20000,20000 800x600 ->
  // Login (gw1)"; a target that does not exist shows as "(no window)".
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
  // The records of one window, or of one intent.
  std::vector<JournalEntry> To(plat::WindowHandle window) const;
  std::vector<JournalEntry> Of(const std::string& intent) const;
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
  // What has been typed into the window, as UTF-8.
  std::string Typed(plat::WindowHandle window) const;
  // How it was last shown (Shown at first).
  plat::ShowAs ShowState(plat::WindowHandle window) const;

  // Every intent, in order (see DesktopJournal).
  DesktopJournal journal;
  // Ticks at which a message for the launcher's own thread arrives (an
  // operator's click, a timer): they wake a message wait.
  std::vector<uint32_t> ownMessagesAt;
  // The time-outs WaitForMessages was called with, in order.
  std::vector<uint32_t> waits;
  int findCalls = 0;
  // The foreground window (when it exists).
  plat::WindowHandle foreground = plat::WindowHandle::None;
  // Runs after a live window took an intent: how the other program, or the
  // operator, reacts (a login form that closes on Enter, a close of the
  // launcher while it types).
  std::function<void(const JournalEntry&)> onIntent;

  // Compares ASCII letters without regard to case; the latest window added
  // counts as the top of the z-order.
  plat::WindowHandle FindWindow(const std::optional<std::string>& className,
                                const std::optional<std::string>& title) override;
  // Every live window FindWindow would match, latest added first.
  std::vector<plat::WindowHandle> FindWindows(const std::optional<std::string>& className,
                                              const std::optional<std::string>& title) override;
  uint32_t WindowProcessId(plat::WindowHandle window) override;
  plat::WindowHandle GetForegroundWindow() override;
  bool IsWindow(plat::WindowHandle window) override { return Exists(window); }
  std::optional<plat::WindowRect> GetWindowRect(plat::WindowHandle window) override;
  bool Flash(plat::WindowHandle window) override;
  bool BringToFront(plat::WindowHandle window) override;
  bool Restack(plat::WindowHandle window, plat::Stacking where) override;
  bool Show(plat::WindowHandle window, plat::ShowAs how) override;
  bool Move(plat::WindowHandle window, int32_t x, int32_t y, int32_t width,
            int32_t height) override;
  // A hung window takes the whole time-out on the fake clock.
  plat::Delivery AskToClose(plat::WindowHandle window, uint32_t timeoutMs,
                            const plat::StopFlag& stop) override;
  plat::Delivery WaitUntilReady(plat::WindowHandle window, uint32_t timeoutMs,
                                const plat::StopFlag& stop) override;
  plat::Delivery TypeText(plat::WindowHandle window, const std::string& text,
                          uint32_t perKeyTimeoutMs, const plat::StopFlag& stop) override;
  bool PressTab(plat::WindowHandle window) override;
  bool PressEnter(plat::WindowHandle window) override;
  // Advances the clock to the first scripted change after now and within the
  // time-out (a window that wakes, or an own message) and answers Message;
  // with none, by the whole time-out, answering TimedOut.
  plat::WaitEnd WaitForMessages(uint32_t timeoutMs) override;

private:
  struct Window {
    FakeWindow script;
    plat::WindowHandle handle = plat::WindowHandle::None;
    bool closed = false; // by a close request
    plat::ShowAs showState = plat::ShowAs::Shown;
    std::u16string typed;
  };
  Window* Live(plat::WindowHandle window);
  const Window* Find(plat::WindowHandle window) const;
  bool Alive(const Window& w) const;
  bool Hung(const Window& w) const;
  // Journals the intent on the window and returns the window when it exists.
  Window* Target(plat::WindowHandle window, JournalEntry entry);
  // A wait for the window's thread: taken, timed out (the clock moves on by
  // the time-out), gone or stopped.
  plat::Delivery Await(plat::WindowHandle window, JournalEntry entry, uint32_t timeoutMs,
                       const plat::StopFlag& stop);

  FakeSystem& system_;
  FakeProcesses* processes_;
  std::vector<Window> windows_;
};

} // namespace fake
