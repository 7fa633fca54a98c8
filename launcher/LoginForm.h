// The launcher's one window: its state, its start-up and its handlers.
#pragma once

#include "common/DiagnosticLog.h"
#include "common/LaunchState.h"
#include "common/LaunchView.h"
#include "device/HttpClient.h"
#include "device/VerifyCredentials.h"
#include "hmi/WindowFinder.h"
#include "launcher/LaunchSequence.h"
#include "platform/FormView.h"
#include "platform/Platform.h"
#include "store/FolderUtils.h"
#include "store/StoreContext.h"

#include <cstdint>
#include <functional>
#include <string>

namespace launcher {

using plat::ControlId;

using launch::DiagnosticLog;
using launch::LauncherGlobals;
using launch::modeAutoLogin;
using launch::modeEmergencyAccess;
using launch::modeNone;
using launch::OperationalMode;

// The window's state fields are the launch state record itself, so the
// subsystems below can be handed the record without the window.
class TLoginForm : public plat::IFormEvents, public ILaunchWindow, public launch::LoginFormState {
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
  // The operator closed the window. Whatever a launch or an import is doing
  // then is given up: a download or an extraction ends at its next piece,
  // the device's session is logged out, the lock released, and nothing more
  // is shown, started, moved or typed. The program ends once the running
  // handler returns.
  void FormClose() override;

  void btnLaunchClick();
  void btnImportPackageClick();
  void btnBrowseClick();
  void rgOperationalModeClick();
  void LaunchHMIMinimized();

  // Selects a mode the way a click would: the handler runs when it changes.
  void SelectOperationalMode(int index);

  std::string GetVersion();
  bool GetBuildInfo(uint16_t& major, uint16_t& minor, uint16_t& release, uint16_t& build);

  DiagnosticLog& Log() override { return log_; }
  plat::Services& Services() override { return s_; }
  LauncherGlobals& Globals() override { return g_; }
  hmi::TWindowFinder& Finder() override { return windowFinder; }

  // Closes the window; the program ends once the running handler returns.
  void CloseLauncher() override;

  // While it lives, a launch runs (from the press until the launcher closes
  // or shows its box), or a package is being imported. Those steps let the
  // window's messages run, but none of them is built to run inside another:
  // Launch, Import Package and Browse are greyed out, and a press that still
  // arrives is ignored.
  class StepInProgress {
  public:
    explicit StepInProgress(TLoginForm& form);
    ~StepInProgress();
    StepInProgress(const StepInProgress&) = delete;
    StepInProgress& operator=(const StepInProgress&) = delete;

  private:
    TLoginForm& form_;
    bool wasEnabled_[3];
  };
  bool Busy() const { return busy_; }

  // Finds the HMI's windows by title; owned by the form, never reset.
  hmi::TWindowFinder windowFinder;

  // The launch as the subsystems below the window see it.
  device::LaunchContext Context() override;
  store::StoreContext Store() { return {s_, folders_, *this}; }

  // The narrow side of the window that the launch steps use.
  void SetStatusText(const std::string& text) override;
  void ShowProgress(const std::string& text) override;
  void ProcessMessages() override;
  std::string HostText() override;
  void SetHostText(const std::string& text) override;
  std::string UserNameText() override;
  std::string PasswordText() override;
  int SelectedMode() override;
  void HideBrowse() override;
  const plat::StopFlag& Stop() const override { return stop_; }

  // The HTTPS client's events.
  bool NetHTTPClientValidateServerCertificate() { return true; }
  void NetHTTPClientRequestError(const std::string& error);

  // Keeps what a launch found and started as the record of the last launch.
  void RememberLaunch(const device::Verified& verified,
                      std::optional<uint32_t> hmiProcess) override;

  // The two provisioning branches; tests may put their own in place of the
  // real ones.
  device::ImageSource* downloadBranch = &device::DownloadFromDevice();
  device::ImageSource* packageBranch = &device::ImagesFromPackage();

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
  bool busy_ = false;
  plat::StopFlag stop_;
};

} // namespace launcher
