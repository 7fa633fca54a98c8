// What the Launch button does: verification and provisioning, then the HMI
// started, its certificate prompt followed, its login window moved off-screen
// and typed into, and the launcher closed.
#pragma once

#include "common/DiagnosticLog.h"
#include "common/LaunchState.h"
#include "common/LaunchView.h"
#include "device/VerifyCredentials.h"
#include "hmi/HmiLaunch.h"
#include "hmi/WindowFinder.h"
#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace launcher {

using hmi::TypingStep;

// What a launch needs of the window that runs it, besides its narrow side.
class ILaunchWindow : public launch::ILaunchView {
public:
  virtual plat::Services& Services() = 0;
  virtual launch::LauncherGlobals& Globals() = 0;
  virtual launch::DiagnosticLog& Log() = 0;
  virtual hmi::TWindowFinder& Finder() = 0;
  // What a verification works with.
  virtual device::LaunchContext Context() = 0;
  // Keeps the launch's device, images and started HMI as the window's record.
  virtual void RememberLaunch(const device::Verified& verified,
                              std::optional<uint32_t> hmiProcess) = 0;
  // Closes the window; the program ends once the running handler returns.
  virtual void CloseLauncher() = 0;
};

// The steps from the pauses before typing to Enter, for the operational mode
// the launch was verified in. Emergency access types nothing. Under
// "-autologin" (`doAutoLogin`) there is no start-up pause and no slow-link
// pause, and the fields are 100 ms apart instead of SendKeysPause. Auto-login
// chosen by hand types the same empty fields as "-autologin" but with the
// normal pauses.
std::vector<TypingStep> PlanTyping(int mode, const launch::LauncherGlobals& globals,
                                   bool wanConnection, const std::string& userNameBox,
                                   const std::string& passwordBox);

// Whether the login window goes off-screen: always under "-autologin", by
// hand only when HideLoginForm is set; never for a release whose login window
// may not be moved off-screen.
bool MovesLoginWindow(const launch::LauncherGlobals& globals, int32_t releaseVersionAsInt);

// The whole launch sequence for one press of Launch. The caller keeps Launch
// unavailable until it returns.
void LaunchHMIMinimized(ILaunchWindow& window);

} // namespace launcher
