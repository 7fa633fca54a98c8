#include "hmi/WindowWaits.h"

#include "common/Text.h"
#include "hmi/HmiContract.h"

namespace hmi {
namespace {

constexpr uint32_t kPollMs = 200;
constexpr uint32_t kReadyTimeoutMs = 4000;
constexpr uint32_t kKeyRead = 0x20019;

// Owns the event that only gives a message wait something to wait on; closes
// it however the wait ends. A failed close is of no consequence.
class WaitEvent {
public:
  explicit WaitEvent(plat::IWindows& windows) : windows_(windows), event_(windows.CreateEvent()) {}
  ~WaitEvent() {
    try {
      windows_.CloseEvent(event_);
    } catch (...) {
    }
  }
  WaitEvent(const WaitEvent&) = delete;
  WaitEvent& operator=(const WaitEvent&) = delete;
  plat::EventHandle Get() const { return event_; }

private:
  plat::IWindows& windows_;
  plat::EventHandle event_;
};

class OpenKey {
public:
  OpenKey(plat::IRegistry& registry, const std::string& name)
      : registry_(registry), key_(registry.OpenCurrentUserKey(name, kKeyRead)) {}
  ~OpenKey() {
    if (key_ != plat::RegistryKey::None)
      registry_.CloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  plat::RegistryKey Get() const { return key_; }

private:
  plat::IRegistry& registry_;
  plat::RegistryKey key_;
};

} // namespace

namespace {

// What a look at the desktop found: the awaited window, the window that
// comes only after it (so the awaited one will not), or neither.
enum class Seen { Nothing, Awaited, Later };

Seen Look(TWindowFinder& finder, const std::string& windowName, const std::string* laterName) {
  if (FindWindowByTitle(finder, windowName) != plat::WindowHandle::None)
    return Seen::Awaited;
  if (laterName != nullptr && FindWindowByTitle(finder, *laterName) != plat::WindowHandle::None)
    return Seen::Later;
  return Seen::Nothing;
}

void WaitFor(const HmiServices& s, TWindowFinder& finder, const std::string& windowName,
             const std::string* laterName, bool& timedOut, uint32_t timeOut, bool waitForClose) {
  timedOut = false;
  Seen seen = Look(finder, windowName, laterName);
  if (timeOut > 0 && seen == Seen::Nothing) {
    WaitEvent event(s.windows);
    const uint32_t start = s.system.TickCount();
    uint32_t remaining = timeOut;
    while (seen == Seen::Nothing && remaining > 0) {
      if (s.windows.MsgWaitForEvent(event.Get(), remaining, plat::kQsAllInput) ==
          plat::kWaitTimeout)
        break;
      s.ui.ProcessMessages();
      seen = Look(finder, windowName, laterName);
      // Unsigned differences survive the tick count's wrap; once the time is
      // used up, remaining is 0 and never a wrapped-around large number.
      uint32_t elapsed = s.system.TickCount() - start;
      remaining = elapsed >= timeOut ? 0 : timeOut - elapsed;
    }
  }
  bool found = seen == Seen::Awaited;
  timedOut = !found;
  if (found && waitForClose) {
    do {
      s.ui.ProcessMessages();
      found = FindWindowByTitle(finder, windowName) != plat::WindowHandle::None;
      s.system.Sleep(kPollMs);
    } while (found);
  }
}

} // namespace

void WaitForWindowName(const HmiServices& s, TWindowFinder& finder, const std::string& windowName,
                       bool& timedOut, uint32_t timeOut, bool waitForClose) {
  WaitFor(s, finder, windowName, nullptr, timedOut, timeOut, waitForClose);
}

void WaitForPromptBefore(const HmiServices& s, TWindowFinder& finder, const std::string& promptName,
                         const std::string& laterWindowName, bool& timedOut, uint32_t timeOut) {
  WaitFor(s, finder, promptName, &laterWindowName, timedOut, timeOut, true);
}

void WaitForWindowReady(const HmiServices& s, plat::WindowHandle targetWindow) {
  s.windows.SendMessageTimeout(targetWindow, plat::kWmNull, 0, 0, plat::kSmtoBlock,
                               kReadyTimeoutMs);
}

void SendKey(const HmiServices& s, plat::WindowHandle hWnd, uint16_t KeyStroke) {
  s.windows.PostMessage(hWnd, plat::kWmSetFocus, 0, 0);
  s.windows.PostMessage(hWnd, plat::kWmKeyDown, KeyStroke, 0);
  s.windows.PostMessage(hWnd, plat::kWmKeyUp, KeyStroke, 0);
}

void SendStringToWindow(const HmiServices& s, plat::WindowHandle handle,
                        const std::string& sendKeysString) {
  for (char16_t unit : text::Utf8ToUtf16(sendKeysString))
    s.windows.SendMessage(handle, plat::kWmChar, unit, 0);
}

void SendTabToWindow(const HmiServices& s, plat::WindowHandle handle) {
  s.windows.PostMessage(handle, plat::kWmKeyDown, plat::kVkTab, 0);
}

void SendEnterToWindow(const HmiServices& s, plat::WindowHandle handle) {
  SendKey(s, handle, plat::kVkReturn);
}

bool CheckRegistryValueExists(const HmiServices& s, const std::string& KeyName,
                              const std::string& ValueName) {
  OpenKey key(s.registry, KeyName);
  if (key.Get() == plat::RegistryKey::None)
    return false;
  return s.registry.ValueExists(key.Get(), ValueName);
}

bool LoginAuthorisedInt(const HmiServices& s, const std::string& hostText) {
  return CheckRegistryValueExists(s, kTrustKeyName, TrustValueName(hostText));
}

bool LoginAuthorised(const HmiServices& s, const std::function<std::string()>& hostText,
                     uint32_t timeOut) {
  const uint32_t start = s.system.TickCount();
  bool result = LoginAuthorisedInt(s, hostText());
  while (!result && timeOut > 0) {
    s.ui.ProcessMessages();
    s.system.Sleep(kPollMs);
    if (s.system.TickCount() - start > timeOut)
      break;
    result = LoginAuthorisedInt(s, hostText());
  }
  return result;
}

} // namespace hmi
