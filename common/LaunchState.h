// The state of the launcher's runs as plain records: what the login window
// holds besides its controls, the options and facts of the whole run, and the
// operational modes. The window owns them; the subsystems below it take the
// records they read or fill, never the window.
#pragma once

#include <cstdint>
#include <string>

namespace launch {

// The cookie that carries the device session. The device sets it at login;
// in emergency access the HMI may be handed it by this name on its command
// line.
inline constexpr const char* kSessionCookieName = "R930::AuthCookieHandler_R930HMI";

// The items of the operational-mode radio group, by index.
enum OperationalMode : int { modeNone = 0, modeAutoLogin = 1, modeEmergencyAccess = 2 };

// Options and facts that live for the whole run.
struct LauncherGlobals {
  int32_t StartupPause = 1000;
  int32_t SendKeysPause = 600;
  bool HideLoginForm = true;
  bool isDeveloper = false;
  bool enableLogging = false;
  bool doAutoLogin = false;
  bool enableDownload = true;
  bool hmiEnabled = false;
  // Handle of the last HMI process started; 0 before the first start.
  uint32_t proc_id = 0;
};

// The window's record of the last launch: what the device told about itself
// and which images the launch used. The launcher stores it from the values
// the launch steps return; nothing below the window writes it. Never reset
// between launches.
struct LoginFormState {
  std::string deviceType;
  std::string buildBanner;
  std::string releaseVersion;
  int32_t releaseVersionAsInt = 0;
  std::string schemaversion;
  std::string hmiJREFile;
  std::string hmiLIBFile;
  std::string jreVersion;
  std::string hmiSchemaVersion;
  std::string jreImageFolder;
  std::string hmiLibImageFolder;
  bool includeHostInLoginCaption = false;
  bool autologinEnabled = false;
  bool emergencyAccessEnabled = false;
  bool wanConnection = false;
  std::string sessionToken;
};

} // namespace launch
