#include "launcher/LaunchSequence.h"

#include "common/ReleaseRules.h"
#include "common/Text.h"
#include "device/VerifyCredentials.h"
#include "hmi/HmiContract.h"
#include "hmi/HmiServices.h"
#include "hmi/ProcessUtils.h"
#include "hmi/WindowFinder.h"
#include "hmi/WindowWaits.h"
#include "launcher/LoginForm.h"
#include "platform/Desktop.h"

namespace launcher {

namespace {

constexpr uint32_t kOldLoginWindowPause = 3000;
constexpr uint32_t kPromptTimeout = 3500;
constexpr uint32_t kTrustTimeout = 5000;
constexpr uint32_t kLoginWindowTimeout = 10000;
constexpr uint32_t kSlowLinkPause = 2000;
constexpr uint32_t kMoveRetryPause = 200;
// Under "-autologin" the fields follow each other faster, whatever
// SendKeysPause says.
constexpr uint32_t kAutoLoginSendKeysPause = 100;

uint32_t Millis(int32_t pause) {
  // Start-up refuses negative pauses; a zero stays a zero.
  return pause > 0 ? static_cast<uint32_t>(pause) : 0;
}

// Moves the login window off-screen, keeping its size. A move that fails is
// tried again every 200 ms, with the launcher's messages running between
// tries, until it works, the window is gone, or the retry limit is reached.
void MoveOffScreen(const hmi::HmiServices& hs, plat::WindowHandle window,
                   const plat::WindowRect& rect, const plat::StopFlag& stop) {
  const int32_t width = rect.right - rect.left;
  const int32_t height = rect.bottom - rect.top;
  const uint32_t start = hs.system.TickCount();
  while (!hs.windows.MoveWindow(window, kOffScreenX, kOffScreenY, width, height, true)) {
    if (!hs.windows.IsWindow(window) ||
        static_cast<uint32_t>(hs.system.TickCount() - start) >= kMoveRetryLimitMs)
      return;
    hs.system.Sleep(kMoveRetryPause);
    hs.ui.ProcessMessages();
    if (stop.Requested() || !hs.windows.IsWindow(window))
      return;
  }
}

} // namespace

std::vector<TypingStep> PlanTyping(int mode, const launch::LauncherGlobals& g, bool wanConnection,
                                   const std::string& userNameBox, const std::string& passwordBox) {
  if (mode != launch::modeNone && mode != launch::modeAutoLogin)
    return {};
  std::vector<TypingStep> steps;
  if (!g.doAutoLogin) {
    steps.push_back({TypingStep::Pause, "", Millis(g.StartupPause)});
    if (wanConnection)
      steps.push_back({TypingStep::Pause, "", kSlowLinkPause});
  }
  const uint32_t between = g.doAutoLogin ? kAutoLoginSendKeysPause : Millis(g.SendKeysPause);
  steps.push_back({TypingStep::Text, mode == launch::modeAutoLogin ? "" : userNameBox, 0});
  steps.push_back({TypingStep::Tab, "", 0});
  steps.push_back({TypingStep::Pause, "", between});
  steps.push_back({TypingStep::Text, mode == launch::modeNone ? passwordBox : "", 0});
  steps.push_back({TypingStep::Tab, "", 0});
  steps.push_back({TypingStep::Pause, "", between});
  steps.push_back({TypingStep::Enter, "", 0});
  return steps;
}

bool MovesLoginWindow(const launch::LauncherGlobals& g, int32_t releaseVersionAsInt) {
  return (g.HideLoginForm || g.doAutoLogin) && rules::MayMoveOffScreen(releaseVersionAsInt);
}

void LaunchHMIMinimized(TLoginForm& form) {
  plat::Services& s = form.Services();
  launch::LauncherGlobals& g = form.Globals();
  const hmi::HmiServices hs = hmi::HmiServices::From(s);
  hmi::TWindowFinder& finder = form.windowFinder;
  // The trust record is named after the host box as it reads at each check.
  const auto hostText = [&form] { return form.HostText(); };
  // Once the operator closed the window, the launch ends where it is: an HMI
  // already started keeps its windows as they are, untouched.
  const auto closed = [&form] { return form.StopRequested(); };

  // 1. Verification and provisioning. A second press of Launch meanwhile
  // would log in again and replace this launch's session: it is refused.
  device::Verification verification;
  {
    TLoginForm::StepInProgress busy(form);
    device::LaunchContext context = form.Context();
    verification = device::VerifyCredentials(context);
  }
  if (closed())
    return;
  if (!verification) {
    s.ui.ShowMessage(plat::MessageKind::Error, verification.failure.message);
    return;
  }
  form.RememberLaunch(*verification.verified);

  // 2. The mode as it was when the HMI's windows are checked.
  const bool emergencyAccessMode = form.SelectedMode() == launch::modeEmergencyAccess;
  std::string LoginWindowName;

  // 3. An HMI login window for this host from an earlier launch.
  if (!emergencyAccessMode && !text::Trim(form.HostText()).empty()) {
    LoginWindowName = hmi::GetLoginFormCaption(form, form.HostText());
    hmi::KeepToImagePrograms(finder, hs, form.jreImageFolder, form.Log());
    if (hmi::CloseWindow(finder, LoginWindowName))
      s.system.Sleep(kOldLoginWindowPause);
    if (closed())
      return;
    if (hmi::FindWindowByTitle(finder, LoginWindowName) != plat::WindowHandle::None) {
      s.ui.ShowMessage(plat::MessageKind::Error, "Please close the login form for this host.");
      form.CloseLauncher();
      return;
    }
  }

  // 4. The HMI this run started earlier is still running.
  if (g.proc_id != 0) {
    std::optional<uint32_t> StatusCode = s.processes.GetExitCodeProcess(g.proc_id);
    if (StatusCode && *StatusCode == plat::kStillActive) {
      s.ui.ShowMessage(plat::MessageKind::Warning, "Application is already loaded");
      return;
    }
  }

  // 5. From here every path closes the launcher.
  s.ui.SetBusyCursor(true);

  // 6 to 8. The HMI starts; was its device trusted before?
  LoginWindowName = hmi::GetLoginFormCaption(form, form.HostText());
  const bool trustedBefore = hmi::LoginAuthorised(hs, hostText, 0);
  const uint32_t earlierHmi = g.proc_id;
  hmi::RunJavaApp(hs, form, form.HostText(), form.SelectedMode(), g);
  hmi::KeepToProcessTree(finder, hs, g.proc_id == earlierHmi ? 0 : g.proc_id, form.Log());

  // 9 and 10. The certificate prompt: up to 3.5 s for it to come, then as
  // long as the operator keeps it open. The HMI asks before it shows its
  // login window, so once its login window is up no prompt will come: that
  // ends the wait as the time running out would, and a trusted device's
  // launch does not sit out the 3.5 s.
  bool warningTimedOut = false;
  hmi::WaitForPromptBefore(hs, finder, hmi::kCertificatePromptTitle, LoginWindowName,
                           warningTimedOut, kPromptTimeout);
  s.ui.ProcessMessages();
  if (closed())
    return;

  // 11. The trust gate.
  const bool goOn = g.doAutoLogin || (trustedBefore && warningTimedOut) ||
                    hmi::LoginAuthorised(hs, hostText, kTrustTimeout);
  if (!goOn || closed()) {
    form.CloseLauncher();
    return;
  }

  // 12 and 13. The login window: waited for, then moved off-screen.
  plat::WindowHandle LoginDlgHandle = plat::WindowHandle::None;
  if (!emergencyAccessMode) {
    bool timedOut = false;
    hmi::WaitForWindowName(hs, finder, LoginWindowName, timedOut, kLoginWindowTimeout, false);
    if (closed())
      return;
    LoginDlgHandle = hmi::FindWindowByTitle(finder, LoginWindowName);
    if (LoginDlgHandle != plat::WindowHandle::None) {
      const plat::WindowRect WinRect =
          s.windows.GetWindowRect(LoginDlgHandle).value_or(plat::WindowRect{});
      if (rules::NeedsReadyMessage(form.releaseVersionAsInt))
        hmi::WaitForWindowReady(hs, LoginDlgHandle);
      if (closed())
        return;
      if (MovesLoginWindow(g, form.releaseVersionAsInt))
        MoveOffScreen(hs, LoginDlgHandle, WinRect, form.Stop());
    }
  }

  // 14 and 15. Nothing is typed for an untrusted device or in emergency
  // access (from release 4.10 the HMI has the session on its command line).
  if (!hmi::LoginAuthorised(hs, hostText, 0) ||
      form.SelectedMode() == launch::modeEmergencyAccess) {
    form.CloseLauncher();
    return;
  }

  // 16 to 20. The pauses and the keystrokes.
  const std::vector<TypingStep> plan = PlanTyping(form.SelectedMode(), g, form.wanConnection,
                                                  form.UserNameText(), form.PasswordText());
  for (const TypingStep& step : plan) {
    if (closed())
      return;
    switch (step.kind) {
    case TypingStep::Pause:
      s.system.Sleep(step.pauseMs);
      break;
    case TypingStep::Text:
      if (LoginDlgHandle != plat::WindowHandle::None)
        hmi::SendStringToWindow(hs, LoginDlgHandle, step.text);
      break;
    case TypingStep::Tab:
      if (LoginDlgHandle != plat::WindowHandle::None)
        hmi::SendTabToWindow(hs, LoginDlgHandle);
      break;
    case TypingStep::Enter:
      if (LoginDlgHandle != plat::WindowHandle::None)
        hmi::SendEnterToWindow(hs, LoginDlgHandle);
      break;
    }
  }
  form.CloseLauncher();
}

} // namespace launcher
