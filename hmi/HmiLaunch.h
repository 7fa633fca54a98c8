// The HMI half of a launch as stages, once the device is verified and the
// images are in place: the old login window cleared away, the HMI started,
// its certificate prompt and the trust record followed, its login window
// found and prepared, the credentials typed. Each stage takes what it needs
// and returns what it found. None of them reads the launcher's window: the
// device is the one the verification let through, whatever the boxes show by
// now.
#pragma once

#include "common/DiagnosticLog.h"
#include "common/LaunchState.h"
#include "hmi/HmiServices.h"
#include "hmi/WindowFinder.h"
#include "platform/Desktop.h"
#include "platform/Stop.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hmi {

// The verified device and what the HMI is started from.
struct HmiTarget {
  // "host:port": the address the verification used, with the port that
  // answered.
  std::string hostText;
  int32_t releaseVersionAsInt = 0;
  std::string deviceType;
  bool includeHostInLoginCaption = false;
  // The information request was slow: the HMI gets longer before typing.
  bool wanConnection = false;
  std::string jreImageFolder;
  std::string hmiLibImageFolder;
  // The device session; on the HMI's command line only in emergency access
  // where the release takes it there.
  std::string sessionToken;
  // The operational mode the launch was verified in.
  int mode = launch::modeNone;

  bool Emergency() const { return mode == launch::modeEmergencyAccess; }
};

// What the stages work with: the services, the one window finder, the
// developer log and the launcher's stop flag (set once the operator closed
// it: a stage then ends where it is and nothing more is done to the HMI).
struct HmiRun {
  const HmiServices& s;
  TWindowFinder& finder;
  launch::DiagnosticLog& log;
  const plat::StopFlag& stop;

  bool Stopped() const { return stop.Requested(); }
};

// The whole title of the HMI's login window for the target.
std::string LoginCaption(const HmiTarget& target);

// An HMI login window for this host from an earlier launch (made by a program
// run from the JRE images) is asked to close; emergency access has none.
enum class OldWindow { None, Closed, StillOpen };
OldWindow CloseOldLoginWindow(HmiRun& run, const HmiTarget& target);

// The HMI as started: its process (nothing when the start failed), whether
// its device was trusted before it started, and its login window's title.
struct StartedHmi {
  std::optional<uint32_t> process;
  bool trustedBefore = false;
  std::string loginCaption;
};
StartedHmi StartHmi(HmiRun& run, const HmiTarget& target);

// The certificate prompt followed and the trust gate passed: up to 3.5 s for
// the prompt, then as long as the operator keeps it open. Only for a device
// trusted before the start does the login window's coming end the wait for a
// prompt early (none will come then). True when the launch may go on to the
// login window: under "-autologin", for a device trusted before whose prompt
// never came, or once the trust record exists (waited for up to 5 s).
bool FollowPrompt(HmiRun& run, const HmiTarget& target, const StartedHmi& started,
                  bool doAutoLogin);

// Waits up to 10 s for the login window, gives an early release's window
// its ready message, and moves it off-screen when `offScreen`. None when no
// login window of the started HMI came (or in emergency access, which has
// none to wait for).
plat::WindowHandle PrepareLoginWindow(HmiRun& run, const HmiTarget& target,
                                      const StartedHmi& started, bool offScreen);

// Where the login window is moved to while the credentials are typed.
inline constexpr int32_t kOffScreenX = 20000;
inline constexpr int32_t kOffScreenY = 20000;
// A login window that exists but refuses every move is retried every 200 ms
// for this long, then typed into where it is.
inline constexpr uint32_t kMoveRetryLimitMs = 10000;

// One step of typing into the HMI's login window.
struct TypingStep {
  enum Kind { Pause, Text, Tab, Enter } kind;
  std::string text;     // Text: what is typed
  uint32_t pauseMs = 0; // Pause: how long, a plain sleep

  bool operator==(const TypingStep&) const = default;
};

// How typing ended.
enum class Typed {
  All,      // every step carried out
  NoWindow, // no login window: the pauses ran, nothing was typed
  NotTaken, // the window did not take a keystroke in time (or went away):
            // nothing after it was typed
  Stopped,  // the launcher was closed: nothing more was typed
};
Typed TypeLogin(HmiRun& run, plat::WindowHandle window, const std::vector<TypingStep>& plan);

} // namespace hmi
