#include "platform/fake/FakeWindows.h"

#include "common/Text.h"
#include "platform/fake/FakeProcesses.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace fake {

namespace {

// A code unit as the journal shows it: printable ASCII in quotes, anything
// else as its number.
std::string CharName(char16_t unit) {
  if (unit >= 0x20 && unit < 0x7f)
    return std::string("'") + static_cast<char>(unit) + "'";
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(unit));
  return buffer;
}

JournalEntry Intent(std::string intent, std::string text = {}) {
  JournalEntry e;
  e.intent = std::move(intent);
  e.text = std::move(text);
  return e;
}

std::string Ms(uint32_t ms) {
  return std::to_string(ms) + " ms";
}

std::string ShowName(plat::ShowAs how) {
  switch (how) {
  case plat::ShowAs::Hidden:
    return "hidden";
  case plat::ShowAs::Shown:
    return "shown";
  case plat::ShowAs::Maximized:
    return "maximized";
  case plat::ShowAs::Minimized:
    return "minimized";
  case plat::ShowAs::Restored:
    return "restored";
  }
  return "?";
}

std::string StackingName(plat::Stacking where) {
  switch (where) {
  case plat::Stacking::Bottom:
    return "bottom";
  case plat::Stacking::Topmost:
    return "topmost";
  case plat::Stacking::NoTopmost:
    return "not topmost";
  }
  return "?";
}

} // namespace

std::string JournalEntry::Line() const {
  std::string line = intent;
  if (!text.empty())
    line += " " + text;
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

std::vector<JournalEntry> DesktopJournal::Of(const std::string& intent) const {
  std::vector<JournalEntry> out;
  for (const JournalEntry& e : records_)
    if (e.intent == intent)
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

plat::ShowAs FakeWindows::ShowState(plat::WindowHandle window) const {
  const Window* w = Find(window);
  return w ? w->showState : plat::ShowAs::Hidden;
}

bool FakeWindows::Hung(const Window& w) const {
  return w.script.hung || (w.script.hangsAfterChars && w.typed.size() >= *w.script.hangsAfterChars);
}

FakeWindows::Window* FakeWindows::Target(plat::WindowHandle window, JournalEntry entry) {
  Window* w = Live(window);
  entry.window = window;
  entry.found = w != nullptr;
  if (w != nullptr)
    entry.target = w->script.title;
  journal.Add(entry);
  if (w != nullptr && onIntent)
    onIntent(entry);
  return Live(window);
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

bool FakeWindows::Flash(plat::WindowHandle window) {
  return Target(window, Intent("flash")) != nullptr;
}

bool FakeWindows::BringToFront(plat::WindowHandle window) {
  if (Target(window, Intent("to front")) == nullptr)
    return false;
  foreground = window;
  return true;
}

bool FakeWindows::Restack(plat::WindowHandle window, plat::Stacking where) {
  return Target(window, Intent("restack", StackingName(where))) != nullptr;
}

bool FakeWindows::Show(plat::WindowHandle window, plat::ShowAs how) {
  Window* w = Target(window, Intent("show", ShowName(how)));
  if (w == nullptr)
    return false;
  const bool wasVisible = w->showState != plat::ShowAs::Hidden;
  w->showState = how;
  return wasVisible;
}

std::optional<plat::WindowRect> FakeWindows::GetWindowRect(plat::WindowHandle window) {
  Window* w = Live(window);
  if (w == nullptr)
    return std::nullopt;
  return w->script.rect;
}

bool FakeWindows::Move(plat::WindowHandle window, int32_t x, int32_t y, int32_t width,
                       int32_t height) {
  JournalEntry entry = Intent("move", std::to_string(x) + "," + std::to_string(y) + " " +
                                          std::to_string(width) + "x" + std::to_string(height));
  Window* w = Live(window);
  if (w != nullptr && w->script.refusesMove) {
    entry.outcome = "refused";
    Target(window, std::move(entry));
    return false;
  }
  w = Target(window, std::move(entry));
  if (w == nullptr)
    return false;
  w->script.rect = plat::WindowRect{x, y, x + width, y + height};
  return true;
}

plat::Delivery FakeWindows::Await(plat::WindowHandle window, JournalEntry entry, uint32_t timeoutMs,
                                  const plat::StopFlag& stop) {
  if (stop.Requested()) {
    entry.outcome = "stopped";
    Target(window, std::move(entry));
    return plat::Delivery::Stopped;
  }
  Window* w = Live(window);
  if (w != nullptr && Hung(*w)) {
    entry.outcome = "timed out";
    Target(window, std::move(entry));
    system_.tick += timeoutMs;
    return plat::Delivery::TimedOut;
  }
  // Taken: the window reacts before the journal's listener hears of it.
  if (w != nullptr && entry.intent == "type")
    w->typed.push_back(entry.unit);
  if (w != nullptr && entry.intent == "close" && !w->script.refusesClose)
    w->closed = true;
  const bool existed = w != nullptr;
  entry.found = existed;
  if (existed)
    entry.target = w->script.title;
  entry.window = window;
  journal.Add(entry);
  if (existed && onIntent)
    onIntent(entry);
  return existed ? plat::Delivery::Taken : plat::Delivery::Gone;
}

plat::Delivery FakeWindows::AskToClose(plat::WindowHandle window, uint32_t timeoutMs,
                                       const plat::StopFlag& stop) {
  return Await(window, Intent("close", Ms(timeoutMs)), timeoutMs, stop);
}

plat::Delivery FakeWindows::WaitUntilReady(plat::WindowHandle window, uint32_t timeoutMs,
                                           const plat::StopFlag& stop) {
  return Await(window, Intent("ready", Ms(timeoutMs)), timeoutMs, stop);
}

plat::Delivery FakeWindows::TypeText(plat::WindowHandle window, const std::string& text,
                                     uint32_t perKeyTimeoutMs, const plat::StopFlag& stop) {
  for (char16_t unit : text::Utf8ToUtf16(text)) {
    JournalEntry entry = Intent("type", CharName(unit));
    entry.unit = unit;
    const plat::Delivery d = Await(window, std::move(entry), perKeyTimeoutMs, stop);
    if (d != plat::Delivery::Taken)
      return d;
  }
  return plat::Delivery::Taken;
}

bool FakeWindows::PressTab(plat::WindowHandle window) {
  return Target(window, Intent("Tab")) != nullptr;
}

bool FakeWindows::PressEnter(plat::WindowHandle window) {
  return Target(window, Intent("Enter")) != nullptr;
}

plat::WaitEnd FakeWindows::WaitForMessages(uint32_t timeoutMs) {
  waits.push_back(timeoutMs);
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
    return plat::WaitEnd::TimedOut;
  }
  system_.tick += *soonest;
  return plat::WaitEnd::Message;
}

} // namespace fake
