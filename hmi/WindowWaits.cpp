#include "hmi/WindowWaits.h"

#include "common/Text.h"
#include "hmi/HmiContract.h"

#include <algorithm>

namespace hmi {
namespace {

constexpr uint32_t kPollMs = 200;
constexpr uint32_t kReadyTimeoutMs = 4000;

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
             const std::string* laterName, bool& timedOut, uint32_t timeOut, bool waitForClose,
             const plat::StopFlag* stop) {
  timedOut = false;
  Seen seen = Look(finder, windowName, laterName);
  if (timeOut > 0 && seen == Seen::Nothing) {
    const uint32_t start = s.system.TickCount();
    uint32_t remaining = timeOut;
    // A window of another program may come without any message for the
    // launcher (it does not take the activation, the launcher is not in the
    // foreground): the desktop is looked at every 200 ms as well, not only
    // when a message wakes the wait, so a prompt on screen is never missed.
    while (seen == Seen::Nothing && remaining > 0 && !plat::StopRequested(stop)) {
      if (s.windows.WaitForMessages(std::min(remaining, kPollMs)) == plat::WaitEnd::Message)
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
  // Without limit, as the operator may take their time over the prompt;
  // closing the launcher ends it.
  if (found && waitForClose) {
    do {
      s.ui.ProcessMessages();
      found = FindWindowByTitle(finder, windowName) != plat::WindowHandle::None;
      s.system.Sleep(kPollMs);
    } while (found && !plat::StopRequested(stop));
  }
}

} // namespace

void WaitForWindowName(const HmiServices& s, TWindowFinder& finder, const std::string& windowName,
                       bool& timedOut, uint32_t timeOut, bool waitForClose,
                       const plat::StopFlag* stop) {
  WaitFor(s, finder, windowName, nullptr, timedOut, timeOut, waitForClose, stop);
}

void WaitForPromptBefore(const HmiServices& s, TWindowFinder& finder, const std::string& promptName,
                         const std::string& laterWindowName, bool& timedOut, uint32_t timeOut,
                         const plat::StopFlag* stop) {
  WaitFor(s, finder, promptName, &laterWindowName, timedOut, timeOut, true, stop);
}

plat::Delivery WaitForWindowReady(const HmiServices& s, plat::WindowHandle targetWindow,
                                  const plat::StopFlag& stop) {
  return s.windows.WaitUntilReady(targetWindow, kReadyTimeoutMs, stop);
}

plat::Delivery SendStringToWindow(const HmiServices& s, plat::WindowHandle handle,
                                  const std::string& sendKeysString, const plat::StopFlag& stop) {
  return s.windows.TypeText(handle, sendKeysString, kKeyTimeoutMs, stop);
}

bool SendTabToWindow(const HmiServices& s, plat::WindowHandle handle) {
  return s.windows.PressTab(handle);
}

bool SendEnterToWindow(const HmiServices& s, plat::WindowHandle handle) {
  return s.windows.PressEnter(handle);
}

bool CheckRegistryValueExists(const HmiServices& s, const std::string& KeyName,
                              const std::string& ValueName) {
  return s.registry.ValueExists(KeyName, ValueName);
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
