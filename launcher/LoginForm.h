// The launcher's one window: its state, its start-up and its handlers.
#pragma once

#include "device/HttpClient.h"
#include "launcher/DiagnosticLog.h"
#include "platform/FormView.h"
#include "platform/Platform.h"
#include "store/FolderUtils.h"

#include <cstdint>
#include <functional>
#include <string>

namespace launcher {

using plat::ControlId;

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
  uint32_t proc_id = 0;
};

enum OperationalMode : int { modeNone = 0, modeAutoLogin = 1, modeEmergencyAccess = 2 };

class TLoginForm : public plat::IFormEvents {
public:
  TLoginForm(plat::Services& services, LauncherGlobals& globals);

  // Creates the window through the toolkit and runs the start-up steps; the
  // window is not shown yet.
  void Create(plat::IToolkit& toolkit);
  plat::IFormView& View() { return *view_; }

  // Start-up, once, while the window is created.
  void FormCreate();

  // Toolkit events. Each runs under the top-level error report.
  void FormShow() override;
  void Timer1Timer() override;
  void ButtonClick(ControlId button) override;
  void OperationalModeSelected(int index) override;
  bool FormHelp() override;

  void btnLaunchClick();
  void btnImportPackageClick();
  void btnBrowseClick();
  void rgOperationalModeClick();
  void LaunchHMIMinimized();

  // Selects a mode the way a click would: the handler runs when it changes.
  void SelectOperationalMode(int index);

  std::string GetVersion();
  bool GetBuildInfo(uint16_t& major, uint16_t& minor, uint16_t& release, uint16_t& build);

  DiagnosticLog& Log() { return log_; }
  store::FolderUtils& Folders() { return folders_; }
  plat::Services& Services() { return s_; }
  LauncherGlobals& Globals() { return g_; }
  device::THttpClient& NetHTTPClient() { return http_; }

  // The HTTPS client's events.
  bool NetHTTPClientValidateServerCertificate() { return true; }
  void NetHTTPClientRequestError(const std::string& error);

  // The two ways credential verification provides the runtime images: from
  // the device (download mode) or from a package. Each returns the attempt's
  // result and, on failure, fills errorMessage. Tests may put their own in
  // place of the real branches.
  std::function<bool(int32_t iPort, std::string& errorMessage)> downloadBranch;
  std::function<bool(std::string& errorMessage)> packageBranch;
  bool RunDownloadBranch(int32_t iPort, std::string& errorMessage);
  bool RunPackageBranch(std::string& errorMessage);

  // State of one launcher run; never reset between launches.
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
  bool logoutRequired = false;
  bool includeHostInLoginCaption = false;
  bool autologinEnabled = false;
  bool emergencyAccessEnabled = false;
  bool wanConnection = false;
  std::string sessionToken;

private:
  // Shows the error's own text in an error box; the window stays open.
  template <typename F> void Guarded(F&& handler);

  void ReadParams();
  void ReadCommandLine();
  void SetUpPackageFolder();

  plat::Services& s_;
  LauncherGlobals& g_;
  std::unique_ptr<plat::IFormView> view_;
  DiagnosticLog log_;
  store::FolderUtils folders_;
  device::THttpClient http_;
  std::string portArgument_;
};

} // namespace launcher
