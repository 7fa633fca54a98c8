#include "platform/fake/FakeWindows.h"

#include "common/Text.h"
#include "platform/fake/FakeProcesses.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace fake {

namespace {
std::string Hex(uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
  return buffer;
}

std::string MessageName(uint32_t message) {
  switch (message) {
  case plat::kWmNull:
    return "WM_NULL";
  case plat::kWmSetFocus:
    return "WM_SETFOCUS";
  case plat::kWmClose:
    return "WM_CLOSE";
  case plat::kWmKeyDown:
    return "WM_KEYDOWN";
  case plat::kWmKeyUp:
    return "WM_KEYUP";
  case plat::kWmChar:
    return "WM_CHAR";
  default:
    return "WM_" + Hex(message);
  }
}

std::string KeyName(uint64_t key) {
  switch (key) {
  case plat::kVkTab:
    return "VK_TAB";
  case plat::kVkReturn:
    return "VK_RETURN";
  default:
    return "VK " + Hex(key);
  }
}

// A code unit as the journal shows it: printable ASCII in quotes, anything
// else as its number.
std::string CharName(uint64_t unit) {
  if (unit >= 0x20 && unit < 0x7f)
    return std::string("'") + static_cast<char>(unit) + "'";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04llX", static_cast<unsigned long long>(unit));
  return buffer;
}

// The arguments of a message as the journal shows them.
std::string Arguments(uint32_t message, uint64_t wParam, int64_t lParam) {
  std::string out;
  auto add = [&out](const std::string& part) { out += (out.empty() ? "" : " ") + part; };
  if (message == plat::kWmChar)
    add(CharName(wParam));
  else if (message == plat::kWmKeyDown || message == plat::kWmKeyUp)
    add(KeyName(wParam));
  else if (wParam != 0)
    add("wParam=" + std::to_string(wParam));
  if (lParam != 0)
    add("lParam=" + std::to_string(lParam));
  return out;
}

JournalEntry MessageEntry(JournalEntry::Via via, uint32_t message, uint64_t wParam,
                          int64_t lParam) {
  JournalEntry e;
  e.via = via;
  e.message = MessageName(message);
  e.text = Arguments(message, wParam, lParam);
  e.code = message;
  e.wParam = wParam;
  e.lParam = lParam;
  return e;
}

JournalEntry CallEntry(std::string operation, std::string text) {
  JournalEntry e;
  e.message = std::move(operation);
  e.text = std::move(text);
  return e;
}

std::string InsertAfterName(int64_t insertAfter) {
  switch (insertAfter) {
  case plat::kHwndTop:
    return "HWND_TOP";
  case plat::kHwndBottom:
    return "HWND_BOTTOM";
  case plat::kHwndTopmost:
    return "HWND_TOPMOST";
  case plat::kHwndNoTopmost:
    return "HWND_NOTOPMOST";
  default:
    return Hex(static_cast<uint64_t>(insertAfter));
  }
}

std::string ShowName(int32_t command) {
  switch (command) {
  case 0:
    return "SW_HIDE";
  case 1:
    return "SW_SHOWNORMAL";
  case 3:
    return "SW_SHOWMAXIMIZED";
  case 5:
    return "SW_SHOW";
  case 6:
    return "SW_MINIMIZE";
  case 9:
    return "SW_RESTORE";
  default:
    return std::to_string(command);
  }
}

} // namespace

std::string JournalEntry::Line() const {
  std::string line;
  if (via == Posted)
    line = "POST ";
  else if (via == SentWithTimeout)
    line = "SendMessageTimeout ";
  line += message;
  if (!text.empty())
    line += " " + text;
  if (via == SentWithTimeout)
    line += " SMTO " + Hex(flags) + " " + std::to_string(timeoutMs) + " ms";
  line += " -> " + (found ? target : std::string("(no window)"));
  if (!outcome.empty())
    line += " (" + outcome + ")";
  return line;
}

void DesktopJournal::Add(JournalEntry entry) {
  lines_.push_back(entry.Line());
  records_.push_back(std::move(entry));
}

std::vector<JournalEntry> DesktopJournal::To(plat::WindowHandle window) const {
  std::vector<JournalEntry> out;
  for (const JournalEntry& e : records_)
    if (e.window == window)
      out.push_back(e);
  return out;
}

std::vector<JournalEntry> DesktopJournal::Of(const std::string& message) const {
  std::vector<JournalEntry> out;
  for (const JournalEntry& e : records_)
    if (e.message == message)
      out.push_back(e);
  return out;
}

// ---------------------------------------------------------------------------

plat::WindowHandle FakeWindows::Add(FakeWindow window) {
  auto handle = static_cast<plat::WindowHandle>(0x10010 + 0x10 * windows_.size());
  if (window.processId == 0 && processes_ != nullptr)
    window.processId =
        processes_->LastStartedId() != 0 ? processes_->LastStartedId() : processes_->EarlierHmiId();
  Window entry;
  entry.script = std::move(window);
  entry.handle = handle;
  windows_.push_back(std::move(entry));
  return handle;
}

const FakeWindows::Window* FakeWindows::Find(plat::WindowHandle window) const {
  for (const Window& w : windows_)
    if (w.handle == window)
      return &w;
  return nullptr;
}

FakeWindow& FakeWindows::Script(plat::WindowHandle window) {
  const Window* w = Find(window);
  if (w == nullptr)
    throw std::logic_error("no such scripted window");
  return const_cast<Window*>(w)->script;
}

bool FakeWindows::Alive(const Window& w) const {
  uint32_t now = system_.tick;
  if (w.script.opensAt && !TickReached(now, *w.script.opensAt))
    return false;
  if (w.closed)
    return false;
  return !(w.script.closesAt && TickReached(now, *w.script.closesAt));
}

FakeWindows::Window* FakeWindows::Live(plat::WindowHandle window) {
  const Window* w = Find(window);
  return w != nullptr && Alive(*w) ? const_cast<Window*>(w) : nullptr;
}

bool FakeWindows::Exists(plat::WindowHandle window) const {
  const Window* w = Find(window);
  return w != nullptr && Alive(*w);
}

std::string FakeWindows::Typed(plat::WindowHandle window) const {
  const Window* w = Find(window);
  return w ? text::Utf16ToUtf8(w->typed) : std::string();
}

int32_t FakeWindows::ShowState(plat::WindowHandle window) const {
  const Window* w = Find(window);
  return w ? w->showState : 0;
}

FakeWindows::Window* FakeWindows::Target(plat::WindowHandle window, JournalEntry entry) {
  Window* w = Live(window);
  entry.window = window;
  entry.found = w != nullptr;
  if (w != nullptr)
    entry.target = w->script.title;
  journal.Add(std::move(entry));
  return w;
}

plat::WindowHandle FakeWindows::FindWindow(const std::optional<std::string>& className,
                                           const std::optional<std::string>& title) {
  ++findCalls;
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    if (!Alive(*it))
      continue;
    if (className && !text::EqualsIgnoreCase(*className, it->script.className))
      continue;
    if (title && !text::EqualsIgnoreCase(*title, it->script.title))
      continue;
    return it->handle;
  }
  return plat::WindowHandle::None;
}

std::vector<plat::WindowHandle>
FakeWindows::FindWindows(const std::optional<std::string>& className,
                         const std::optional<std::string>& title) {
  ++findCalls;
  std::vector<plat::WindowHandle> found;
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    if (!Alive(*it))
      continue;
    if (className && !text::EqualsIgnoreCase(*className, it->script.className))
      continue;
    if (title && !text::EqualsIgnoreCase(*title, it->script.title))
      continue;
    found.push_back(it->handle);
  }
  return found;
}

uint32_t FakeWindows::WindowProcessId(plat::WindowHandle window) {
  const Window* w = Live(window);
  return w ? w->script.processId : 0;
}

plat::WindowHandle FakeWindows::GetForegroundWindow() {
  return Exists(foreground) ? foreground : plat::WindowHandle::None;
}

bool FakeWindows::FlashWindow(plat::WindowHandle window, bool invert) {
  return Target(window, CallEntry("FlashWindow", invert ? "TRUE" : "FALSE")) != nullptr;
}

bool FakeWindows::SetForegroundWindow(plat::WindowHandle window) {
  if (Target(window, CallEntry("SetForegroundWindow", "")) == nullptr)
    return false;
  foreground = window;
  return true;
}

bool FakeWindows::SetWindowPos(plat::WindowHandle window, int64_t insertAfter, int32_t x, int32_t y,
                               int32_t cx, int32_t cy, uint32_t flags) {
  std::string what = InsertAfterName(insertAfter);
  if (x != 0 || y != 0 || cx != 0 || cy != 0)
    what += " " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(cx) + "x" +
            std::to_string(cy);
  return Target(window, CallEntry("SetWindowPos", what + " flags " + Hex(flags))) != nullptr;
}

bool FakeWindows::ShowWindow(plat::WindowHandle window, int32_t command) {
  Window* w = Target(window, CallEntry("ShowWindow", ShowName(command)));
  if (w == nullptr)
    return false;
  bool wasVisible = w->showState != 0;
  w->showState = command;
  return wasVisible;
}

std::optional<plat::WindowRect> FakeWindows::GetWindowRect(plat::WindowHandle window) {
  Window* w = Live(window);
  if (w == nullptr)
    return std::nullopt;
  return w->script.rect;
}

bool FakeWindows::MoveWindow(plat::WindowHandle window, int32_t x, int32_t y, int32_t width,
                             int32_t height, bool repaint) {
  JournalEntry entry = CallEntry(
      "MoveWindow", std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) +
                        "x" + std::to_string(height) + (repaint ? "" : " no repaint"));
  Window* w = Live(window);
  if (w != nullptr && w->script.refusesMove) {
    entry.outcome = "refused";
    Target(window, std::move(entry));
    return false;
  }
  if (Target(window, std::move(entry)) == nullptr)
    return false;
  w->script.rect = plat::WindowRect{x, y, x + width, y + height};
  return true;
}

void FakeWindows::Deliver(Window& w, uint32_t message, uint64_t wParam, bool posted) {
  if (message == plat::kWmChar)
    w.typed.push_back(static_cast<char16_t>(wParam));
  else if (message == plat::kWmClose && !w.script.refusesClose)
    w.closed = true;
  if (onMessage)
    onMessage(w.handle, message, wParam, posted);
}

bool FakeWindows::PostMessage(plat::WindowHandle window, uint32_t message, uint64_t wParam,
                              int64_t lParam) {
  Window* w = Target(window, MessageEntry(JournalEntry::Posted, message, wParam, lParam));
  if (w == nullptr)
    return false;
  Deliver(*w, message, wParam, true);
  return true;
}

int64_t FakeWindows::SendMessage(plat::WindowHandle window, uint32_t message, uint64_t wParam,
                                 int64_t lParam) {
  Window* w = Target(window, MessageEntry(JournalEntry::Sent, message, wParam, lParam));
  if (w == nullptr)
    return 0;
  if (w->script.hung)
    throw std::logic_error("SendMessage to the hung window \"" + w->script.title +
                           "\" would never return");
  Deliver(*w, message, wParam, false);
  return 0;
}

bool FakeWindows::SendMessageTimeout(plat::WindowHandle window, uint32_t message, uint64_t wParam,
                                     int64_t lParam, uint32_t flags, uint32_t timeoutMs) {
  JournalEntry entry = MessageEntry(JournalEntry::SentWithTimeout, message, wParam, lParam);
  entry.flags = flags;
  entry.timeoutMs = timeoutMs;
  Window* w = Live(window);
  if (w != nullptr && w->script.hung) {
    entry.outcome = "timed out";
    Target(window, std::move(entry));
    system_.tick += timeoutMs;
    return false;
  }
  if (Target(window, std::move(entry)) == nullptr)
    return false;
  Deliver(*w, message, wParam, false);
  return true;
}

plat::EventHandle FakeWindows::CreateEvent() {
  ++eventsCreated;
  uint64_t handle = nextEvent_;
  nextEvent_ += 4;
  openEvents_.insert(handle);
  return static_cast<plat::EventHandle>(handle);
}

uint32_t FakeWindows::MsgWaitForEvent(plat::EventHandle event, uint32_t timeoutMs,
                                      uint32_t /*wakeMask*/) {
  waits.push_back(timeoutMs);
  if (openEvents_.count(static_cast<uint64_t>(event)) == 0)
    return 0xFFFFFFFF; // WAIT_FAILED
  const uint32_t now = system_.tick;
  // The soonest change strictly after now and no later than the time-out.
  std::optional<uint32_t> soonest;
  auto consider = [&](uint32_t at) {
    uint32_t delay = at - now;
    if (delay == 0 || delay > timeoutMs || !TickReached(at, now))
      return;
    if (!soonest || delay < *soonest)
      soonest = delay;
  };
  for (const Window& w : windows_) {
    if (!w.script.wakes || w.closed)
      continue;
    if (w.script.opensAt)
      consider(*w.script.opensAt);
    if (w.script.closesAt)
      consider(*w.script.closesAt);
  }
  for (uint32_t at : ownMessagesAt)
    consider(at);
  if (!soonest) {
    system_.tick += timeoutMs;
    return plat::kWaitTimeout;
  }
  system_.tick += *soonest;
  return plat::kWaitObject0 + 1;
}

bool FakeWindows::CloseEvent(plat::EventHandle event) {
  if (openEvents_.erase(static_cast<uint64_t>(event)) == 0) {
    ++badEventCloses;
    return false;
  }
  return true;
}

} // namespace fake
