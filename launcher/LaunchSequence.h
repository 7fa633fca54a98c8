// What the Launch button does: verification and provisioning, then the HMI
// started, its certificate prompt followed, its login window moved off-screen
// and typed into, and the launcher closed.
#pragma once

#include "common/LaunchState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace launcher {

class TLoginForm;

// One step of typing into the HMI's login window.
struct TypingStep {
  enum Kind { Pause, Text, Tab, Enter } kind;
  std::string text;     // Text: what is typed
  uint32_t pauseMs = 0; // Pause: how long, a plain sleep

  bool operator==(const TypingStep&) const = default;
};

// The steps from the pauses before typing to Enter, for the operational mode
// selected when typing begins. Emergency access types nothing. Under
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

// Where the login window is moved to while the credentials are typed.
inline constexpr int32_t kOffScreenX = 20000;
inline constexpr int32_t kOffScreenY = 20000;
// A login window that exists but refuses every move is retried every 200 ms
// for this long, then typed into where it is.
inline constexpr uint32_t kMoveRetryLimitMs = 10000;

// The whole launch sequence for one press of Launch.
void LaunchHMIMinimized(TLoginForm& form);

} // namespace launcher
