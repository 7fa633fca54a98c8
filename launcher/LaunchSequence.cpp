#include "launcher/LaunchSequence.h"

#include "common/ReleaseRules.h"
#include "hmi/HmiContract.h"
#include "hmi/WindowWaits.h"
#include "platform/Desktop.h"

namespace launcher {

namespace {

constexpr uint32_t kSlowLinkPause = 2000;
// Under "-autologin" the fields follow each other faster, whatever
// SendKeysPause says.
constexpr uint32_t kAutoLoginSendKeysPause = 100;

uint32_t Millis(int32_t pause) {
  // Start-up refuses negative pauses; a zero stays a zero.
  return pause > 0 ? static_cast<uint32_t>(pause) : 0;
}

// What the operator asked for with the press: read once, so that what is
// typed into the HMI is what was verified, whatever the boxes show later.
struct LaunchRequest {
  int mode = launch::modeNone;
  std::string userName;
  std::string password;
};

LaunchRequest ReadRequest(ILaunchWindow& window) {
  return {window.SelectedMode(), window.UserNameText(), window.PasswordText()};
}

hmi::HmiTarget TargetOf(const device::Verified& v, int mode) {
  return {v.hostText,
          v.device.releaseVersionAsInt,
          v.device.deviceType,
          hmi::IncludesHostInLoginCaption(v.images.fromDevice, v.device.releaseVersionAsInt),
          v.device.wanConnection,
          v.images.jreImageFolder,
          v.images.hmiLibImageFolder,
          v.device.sessionToken,
          mode};
}

// How the HMI half ended, as the window shows it.
enum class LaunchEnd { Closes, OldWindowOpen, AlreadyLoaded };

bool HmiStillRunning(ILaunchWindow& window) {
  const uint32_t earlier = window.Globals().proc_id;
  return earlier != 0 &&
         window.Services().processes.GetExitCodeProcess(earlier) == plat::kStillActive;
}

// The HMI's windows followed and typed into. Nothing is typed for a device
// still not trusted, nor in emergency access (from release 4.10 the HMI has
// the session on its command line).
void FollowAndType(hmi::HmiRun& run, const hmi::HmiTarget& target, const hmi::StartedHmi& started,
                   const LaunchRequest& request, const launch::LauncherGlobals& g) {
  if (!hmi::FollowPrompt(run, target, started, g.doAutoLogin))
    return;
  const plat::WindowHandle login = hmi::PrepareLoginWindow(
      run, target, started, MovesLoginWindow(g, target.releaseVersionAsInt));
  if (run.Stopped() || target.Emergency() ||
      !hmi::LoginAuthorised(
          run.s, [&target] { return target.hostText; }, 0))
    return;
  hmi::TypeLogin(
      run, login,
      PlanTyping(target.mode, g, target.wanConnection, request.userName, request.password));
}

void Conclude(ILaunchWindow& window, LaunchEnd end) {
  if (window.StopRequested())
    return;
  plat::IUi& ui = window.Services().ui;
  if (end == LaunchEnd::AlreadyLoaded)
    return ui.ShowMessage(plat::MessageKind::Warning, "Application is already loaded");
  if (end == LaunchEnd::OldWindowOpen)
    ui.ShowMessage(plat::MessageKind::Error, "Please close the login form for this host.");
  window.CloseLauncher();
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

void LaunchHMIMinimized(ILaunchWindow& window) {
  const LaunchRequest request = ReadRequest(window);
  device::LaunchContext context = window.Context();
  const device::Verification verification = device::VerifyCredentials(context);
  // Once the operator closed the window, the launch ends where it is: an HMI
  // already started keeps its windows as they are, untouched.
  if (window.StopRequested())
    return;
  // The operator answered No to a changed certificate: the answer was the
  // last word, the window stays for another try.
  if (!verification && verification.failure.whose == device::Whose::Declined)
    return;
  if (!verification)
    return window.Services().ui.ShowMessage(plat::MessageKind::Error, verification.failure.message);
  const hmi::HmiTarget target = TargetOf(*verification.verified, request.mode);
  const hmi::HmiServices hs = hmi::HmiServices::From(window.Services());
  hmi::HmiRun run{hs, window.Finder(), window.Log(), window.Stop()};
  LaunchEnd end = LaunchEnd::Closes;
  std::optional<uint32_t> started;
  if (hmi::CloseOldLoginWindow(run, target) == hmi::OldWindow::StillOpen) {
    end = LaunchEnd::OldWindowOpen;
  } else if (HmiStillRunning(window)) {
    end = LaunchEnd::AlreadyLoaded;
  } else if (!run.Stopped()) {
    // From here every path closes the launcher.
    hs.ui.SetBusyCursor(true);
    const hmi::StartedHmi hmi = hmi::StartHmi(run, target);
    started = hmi.process;
    FollowAndType(run, target, hmi, request, window.Globals());
  }
  window.RememberLaunch(*verification.verified, started);
  Conclude(window, end);
}

} // namespace launcher
