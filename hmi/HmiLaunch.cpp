#include "hmi/HmiLaunch.h"

#include "common/ReleaseRules.h"
#include "hmi/HmiContract.h"
#include "hmi/ProcessUtils.h"
#include "hmi/WindowWaits.h"

namespace hmi {
namespace {

constexpr uint32_t kOldLoginWindowPause = 3000;
constexpr uint32_t kPromptTimeout = 3500;
constexpr uint32_t kTrustTimeout = 5000;
constexpr uint32_t kLoginWindowTimeout = 10000;
constexpr uint32_t kMoveRetryPause = 200;

// Moves the login window off-screen, keeping its size. A move that fails is
// tried again every 200 ms, with the launcher's messages running between
// tries, until it works, the window is gone, or the retry limit is reached.
void MoveOffScreen(HmiRun& run, plat::WindowHandle window, const plat::WindowRect& rect) {
  const HmiServices& s = run.s;
  const int32_t width = rect.right - rect.left;
  const int32_t height = rect.bottom - rect.top;
  const uint32_t start = s.system.TickCount();
  while (!s.windows.Move(window, kOffScreenX, kOffScreenY, width, height)) {
    if (!s.windows.IsWindow(window) ||
        static_cast<uint32_t>(s.system.TickCount() - start) >= kMoveRetryLimitMs)
      return;
    s.system.Sleep(kMoveRetryPause);
    s.ui.ProcessMessages();
    if (run.Stopped() || !s.windows.IsWindow(window))
      return;
  }
}

bool Trusted(HmiRun& run, const HmiTarget& target, uint32_t timeOut) {
  const std::string& host = target.hostText;
  return LoginAuthorised(
      run.s, [&host] { return host; }, timeOut);
}

// A keystroke the window did not take: the rest would land in whatever
// field has the focus by then, or in nothing.
Typed NotTaken(HmiRun& run, plat::Delivery d) {
  if (d == plat::Delivery::Stopped)
    return Typed::Stopped;
  run.log.LogMessage(d == plat::Delivery::TimedOut
                         ? "The HMI's login window did not take a keystroke within " +
                               std::to_string(kKeyTimeoutMs) + " ms: typing stopped."
                         : "The HMI's login window went away while typing: typing stopped.");
  return Typed::NotTaken;
}

} // namespace

std::string LoginCaption(const HmiTarget& target) {
  return GetLoginFormCaption(target.includeHostInLoginCaption, target.releaseVersionAsInt,
                             target.deviceType, target.hostText);
}

OldWindow CloseOldLoginWindow(HmiRun& run, const HmiTarget& target) {
  if (target.Emergency())
    return OldWindow::None;
  const std::string caption = LoginCaption(target);
  KeepToImagePrograms(run.finder, run.s, target.jreImageFolder, run.log);
  if (!CloseWindow(run.finder, caption))
    return OldWindow::None;
  run.s.system.Sleep(kOldLoginWindowPause);
  return FindWindowByTitle(run.finder, caption) != plat::WindowHandle::None ? OldWindow::StillOpen
                                                                            : OldWindow::Closed;
}

StartedHmi StartHmi(HmiRun& run, const HmiTarget& target) {
  StartedHmi started;
  started.loginCaption = LoginCaption(target);
  started.trustedBefore = Trusted(run, target, 0);
  started.process = RunJavaApp(
      run.s, JavaCommandLine(target.jreImageFolder, target.hmiLibImageFolder, target.hostText,
                             target.releaseVersionAsInt, target.mode, target.sessionToken));
  // A start that failed accepts no window at all.
  KeepToProcessTree(run.finder, run.s, started.process.value_or(0), run.log);
  return started;
}

bool FollowPrompt(HmiRun& run, const HmiTarget& target, const StartedHmi& started,
                  bool doAutoLogin) {
  bool warningTimedOut = false;
  if (started.trustedBefore)
    WaitForPromptBefore(run.s, run.finder, kCertificatePromptTitle, started.loginCaption,
                        warningTimedOut, kPromptTimeout, &run.stop);
  else
    WaitForWindowName(run.s, run.finder, kCertificatePromptTitle, warningTimedOut, kPromptTimeout,
                      true, &run.stop);
  run.s.ui.ProcessMessages();
  if (run.Stopped())
    return false;
  const bool goOn = doAutoLogin || (started.trustedBefore && warningTimedOut) ||
                    Trusted(run, target, kTrustTimeout);
  return goOn && !run.Stopped();
}

plat::WindowHandle PrepareLoginWindow(HmiRun& run, const HmiTarget& target,
                                      const StartedHmi& started, bool offScreen) {
  if (target.Emergency())
    return plat::WindowHandle::None;
  bool timedOut = false;
  WaitForWindowName(run.s, run.finder, started.loginCaption, timedOut, kLoginWindowTimeout, false,
                    &run.stop);
  if (run.Stopped())
    return plat::WindowHandle::None;
  const plat::WindowHandle window = FindWindowByTitle(run.finder, started.loginCaption);
  if (window == plat::WindowHandle::None)
    return window;
  const plat::WindowRect rect = run.s.windows.GetWindowRect(window).value_or(plat::WindowRect{});
  if (rules::NeedsReadyMessage(target.releaseVersionAsInt))
    WaitForWindowReady(run.s, window, run.stop);
  if (run.Stopped())
    return plat::WindowHandle::None;
  if (offScreen)
    MoveOffScreen(run, window, rect);
  return run.Stopped() ? plat::WindowHandle::None : window;
}

Typed TypeLogin(HmiRun& run, plat::WindowHandle window, const std::vector<TypingStep>& plan) {
  for (const TypingStep& step : plan) {
    if (run.Stopped())
      return Typed::Stopped;
    if (step.kind == TypingStep::Pause) {
      run.s.system.Sleep(step.pauseMs);
      continue;
    }
    // Without a login window the pauses still run, as the HMI may be slow.
    if (window == plat::WindowHandle::None)
      continue;
    plat::Delivery d = plat::Delivery::Taken;
    if (step.kind == TypingStep::Text)
      d = SendStringToWindow(run.s, window, step.text, run.stop);
    else if (!(step.kind == TypingStep::Tab ? SendTabToWindow(run.s, window)
                                            : SendEnterToWindow(run.s, window)))
      d = plat::Delivery::Gone;
    if (d != plat::Delivery::Taken)
      return NotTaken(run, d);
  }
  return window == plat::WindowHandle::None ? Typed::NoWindow : Typed::All;
}

} // namespace hmi
