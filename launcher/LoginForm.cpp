#include "launcher/LoginForm.h"

#include "common/Text.h"
#include "device/VerifyCredentials.h"
#include "hmi/HmiContract.h"
#include "launcher/LaunchSequence.h"
#include "launcher/RunElevatedUtils.h"
#include "launcher/StartupOptions.h"
#include "store/PackageImport.h"
#include "store/Settings.h"

#include <exception>
#include <iterator>
#include <memory>

namespace launcher {

TLoginForm::TLoginForm(plat::Services& services, LauncherGlobals& globals)
    : windowFinder(services.windows, services.ui, services.system), s_(services), g_(globals),
      log_(services, globals.enableLogging), folders_(services), http_(services.http) {
  http_.OnValidateServerCertificate = [this] { return NetHTTPClientValidateServerCertificate(); };
  http_.OnRequestError = [this](const std::string& error) { NetHTTPClientRequestError(error); };
}

void TLoginForm::NetHTTPClientRequestError(const std::string&) {
  // Nothing to do here: a request that got no answer is seen where it was
  // sent, and only there is it known whether the device is gone.
}

device::LaunchContext TLoginForm::Context() {
  return {s_, folders_, *this, *this, g_, http_, log_, *downloadBranch, *packageBranch};
}

void TLoginForm::RememberLaunch(const device::Verified& verified) {
  const device::DeviceFacts& d = verified.device;
  deviceType = d.deviceType;
  buildBanner = d.buildBanner;
  releaseVersion = d.releaseVersion;
  releaseVersionAsInt = d.releaseVersionAsInt;
  schemaversion = d.schemaversion;
  hmiJREFile = d.hmiJREFile;
  hmiLIBFile = d.hmiLIBFile;
  autologinEnabled = d.autologinEnabled;
  emergencyAccessEnabled = d.emergencyAccessEnabled;
  wanConnection = d.wanConnection;
  sessionToken = d.sessionToken;
  g_.hmiEnabled = d.hmiEnabled;
  const device::RuntimeImages& images = verified.images;
  jreVersion = images.jreVersion;
  hmiSchemaVersion = images.hmiSchemaVersion;
  jreImageFolder = images.jreImageFolder;
  hmiLibImageFolder = images.hmiLibImageFolder;
  includeHostInLoginCaption =
      hmi::IncludesHostInLoginCaption(images.fromDevice, d.releaseVersionAsInt);
}

void TLoginForm::CloseLauncher() {
  view_->Close();
}

namespace {

constexpr ControlId kStepButtons[] = {ControlId::btnLaunch, ControlId::btnImportPackage,
                                      ControlId::btnBrowse};

} // namespace

TLoginForm::StepInProgress::StepInProgress(TLoginForm& form) : form_(form) {
  form_.busy_ = true;
  for (size_t i = 0; i < std::size(kStepButtons); ++i) {
    wasEnabled_[i] = form_.view_->Enabled(kStepButtons[i]);
    form_.view_->SetEnabled(kStepButtons[i], false);
  }
}

TLoginForm::StepInProgress::~StepInProgress() {
  form_.busy_ = false;
  for (size_t i = 0; i < std::size(kStepButtons); ++i)
    form_.view_->SetEnabled(kStepButtons[i], wasEnabled_[i]);
}

void TLoginForm::SetStatusText(const std::string& text) {
  view_->SetText(ControlId::statusBar, text);
}

void TLoginForm::ShowProgress(const std::string& text) {
  view_->SetProgressText(text);
}

void TLoginForm::ProcessMessages() {
  s_.ui.ProcessMessages();
}

std::string TLoginForm::HostText() {
  return view_->Text(ControlId::edtHost);
}

void TLoginForm::SetHostText(const std::string& text) {
  view_->SetText(ControlId::edtHost, text);
}

std::string TLoginForm::UserNameText() {
  return view_->Text(ControlId::edtUserName);
}

std::string TLoginForm::PasswordText() {
  return view_->Text(ControlId::edtPassword);
}

int TLoginForm::SelectedMode() {
  return view_->ItemIndex();
}

void TLoginForm::HideBrowse() {
  view_->SetVisible(ControlId::btnBrowse, false);
}

template <typename F> void TLoginForm::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    // After the operator closed the window, what the given-up step raised
    // on its way out is no news to anyone.
    if (!StopRequested())
      s_.ui.ShowMessage(plat::MessageKind::Error, e.what());
  } catch (...) {
    if (!StopRequested())
      s_.ui.ShowMessage(plat::MessageKind::Error, "Unexpected error.");
  }
}

void TLoginForm::Create(plat::IToolkit& toolkit) {
  view_ = toolkit.CreateLoginWindow(*this);
  Guarded([&] { FormCreate(); });
}

void TLoginForm::FormCreate() {
  // The window is made with the developer defaults in the boxes. Outside
  // developer mode they must go whatever happens below: a step that fails
  // skips the rest of start-up, and the window then opens all the same.
  auto clearDefaultsOutsideDeveloperMode = [&] {
    if (g_.isDeveloper)
      return;
    view_->SetText(ControlId::edtHost, "");
    view_->SetText(ControlId::edtUserName, "");
    view_->SetText(ControlId::edtPassword, "");
  };
  try {
    g_.doAutoLogin = false;

    std::string version = GetVersion();
    if (!version.empty())
      view_->SetCaption(view_->Caption() + " " + version);

    g_.StartupPause = 1000;
    g_.SendKeysPause = 600;
    portArgument_.clear();
    g_.HideLoginForm = true;

    g_.isDeveloper = !s_.system.EnvironmentVariable("KLOX_DATA_DIR").empty();
    g_.enableLogging = g_.isDeveloper;

    SetUpPackageFolder();
    s_.ui.UseMessageIcons();
    log_.ClearLog();
    ReadParams();
  } catch (...) {
    clearDefaultsOutsideDeveloperMode();
    throw;
  }

  clearDefaultsOutsideDeveloperMode();

  ReadCommandLine();

  if (!portArgument_.empty() && view_->Text(ControlId::edtHost).find(':') == std::string::npos)
    view_->SetText(ControlId::edtHost, view_->Text(ControlId::edtHost) + ":" + portArgument_);
}

void TLoginForm::ReadParams() {
  const char* kName = "params.txt";
  if (!s_.files.FileExists(kName))
    return;
  StartupParams params{g_.StartupPause, g_.SendKeysPause, std::nullopt};
  auto apply = [&] {
    g_.StartupPause = params.startupPause;
    g_.SendKeysPause = params.sendKeysPause;
    if (params.hideLoginForm)
      g_.HideLoginForm = *params.hideLoginForm;
  };
  // The window opens all the same after a faulty line, so the lines before
  // it keep their effect.
  try {
    ParseParams(s_.files.ReadFile(kName), params);
  } catch (...) {
    apply();
    throw;
  }
  apply();
}

void TLoginForm::ReadCommandLine() {
  CommandLineOptions options = ParseCommandLine(s_.system.CommandLineArguments());
  if (!options.port.empty())
    portArgument_ = options.port;
  if (options.host)
    view_->SetText(ControlId::edtHost, *options.host);
  if (options.userName)
    view_->SetText(ControlId::edtUserName, *options.userName);
  if (options.autoLogin) {
    SelectOperationalMode(modeAutoLogin);
    g_.doAutoLogin = true;
  }
}

void TLoginForm::SetUpPackageFolder() {
  g_.enableDownload = !s_.files.FileExists(folders_.GetApplicationSettingsFile());
  if (g_.enableDownload) {
    view_->SetVisible(ControlId::lblPackageFolder, false);
    view_->SetVisible(ControlId::edtPackageFolder, false);
    view_->SetVisible(ControlId::btnBrowse, false);
    return;
  }
  view_->SetVisible(ControlId::btnImportPackage, false);
  view_->SetVisible(ControlId::btnBrowse, IsElevated(s_) || g_.isDeveloper);
  bool error = false;
  store::StoreContext store = Store();
  std::string folder = store::GetPackageFolderValue(store, error);
  view_->SetText(ControlId::edtPackageFolder, folder);
  if (error)
    return;
  if (folder.empty())
    view_->SetText(ControlId::statusBar, "Package folder not configured.");
  else if (!s_.files.DirectoryExists(folder))
    view_->SetText(ControlId::statusBar, "Configured package folder does not exist.");
}

std::string TLoginForm::GetVersion() {
  uint16_t major = 0, minor = 0, release = 0, build = 0;
  if (!GetBuildInfo(major, minor, release, build))
    return {};
  return "v" + std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) +
         "." + std::to_string(build);
}

bool TLoginForm::GetBuildInfo(uint16_t& major, uint16_t& minor, uint16_t& release,
                              uint16_t& build) {
  std::optional<plat::FileVersion> v = s_.system.ExecutableFileVersion();
  if (!v)
    return false;
  major = static_cast<uint16_t>(v->ms >> 16);
  minor = static_cast<uint16_t>(v->ms & 0xFFFF);
  release = static_cast<uint16_t>(v->ls >> 16);
  build = static_cast<uint16_t>(v->ls & 0xFFFF);
  return true;
}

void TLoginForm::SelectOperationalMode(int index) {
  if (view_->ItemIndex() == index)
    return;
  view_->SetItemIndex(index);
  rgOperationalModeClick();
}

void TLoginForm::rgOperationalModeClick() {
  switch (view_->ItemIndex()) {
  case modeNone:
    view_->SetText(ControlId::lblUserName, "User Name");
    view_->SetVisible(ControlId::lblUserName, true);
    view_->SetText(ControlId::edtUserName, "");
    view_->SetVisible(ControlId::edtUserName, true);
    view_->SetVisible(ControlId::lblPassword, true);
    view_->SetText(ControlId::edtPassword, "");
    view_->SetVisible(ControlId::edtPassword, true);
    break;
  case modeAutoLogin:
    view_->SetVisible(ControlId::lblUserName, false);
    view_->SetVisible(ControlId::edtUserName, false);
    view_->SetVisible(ControlId::lblPassword, false);
    view_->SetVisible(ControlId::edtPassword, false);
    break;
  case modeEmergencyAccess:
    view_->SetText(ControlId::lblUserName, "Emergency Code");
    view_->SetVisible(ControlId::lblUserName, true);
    view_->SetVisible(ControlId::edtUserName, true);
    view_->SetText(ControlId::edtUserName, "");
    view_->SetVisible(ControlId::lblPassword, false);
    view_->SetVisible(ControlId::edtPassword, false);
    break;
  default:
    break;
  }
}

void TLoginForm::FormShow() {
  Guarded([&] {
    if (g_.doAutoLogin)
      view_->SetTimerEnabled(true);
  });
}

void TLoginForm::Timer1Timer() {
  Guarded([&] {
    view_->SetTimerEnabled(false);
    btnLaunchClick();
  });
}

void TLoginForm::ButtonClick(ControlId button) {
  Guarded([&] {
    switch (button) {
    case ControlId::btnLaunch:
      btnLaunchClick();
      break;
    case ControlId::btnImportPackage:
      btnImportPackageClick();
      break;
    case ControlId::btnBrowse:
      btnBrowseClick();
      break;
    default:
      break;
    }
  });
}

void TLoginForm::OperationalModeSelected(int index) {
  (void)index; // the view already shows the new selection
  Guarded([&] { rgOperationalModeClick(); });
}

bool TLoginForm::FormHelp() {
  return true;
}

void TLoginForm::FormClose() {
  stop_.Request();
}

void TLoginForm::btnLaunchClick() {
  // A press that arrives while a launch or an import waits (its pending
  // messages run) is not run inside it, nor one after a close.
  if (busy_ || StopRequested())
    return;
  LaunchHMIMinimized();
}

void TLoginForm::LaunchHMIMinimized() {
  launcher::LaunchHMIMinimized(*this);
}

void TLoginForm::btnImportPackageClick() {
  if (busy_)
    return;
  StepInProgress busy(*this);
  std::optional<std::string> file =
      s_.ui.OpenFile("Select Veltra Dynamic Remote HMI package",
                     "Veltra Dynamic Remote HMI Packages|*.VeltraDynamicRemoteHMI.KL7zip");
  if (!file)
    return;
  std::string errorMessage;
  store::StoreContext store = Store();
  bool imported = false;
  {
    // The images a package brings are the machine's, which a launcher
    // downloading at the same time fills too: one at a time.
    std::unique_ptr<plat::NamedLock> imagesLock =
        store::LockRuntimeImages(s_, *this, [&](const std::string& why) {
          try {
            log_.LogMessage(why);
          } catch (const std::exception&) {
          }
        });
    // The wait for another launcher is over; what the import does next it
    // says itself, and an import that fails before its first word must not
    // leave the waiting text behind.
    SetStatusText("");
    imported = store::ImportPackage(store, *file, errorMessage);
  }
  if (StopRequested())
    return;
  if (imported)
    s_.ui.ShowMessage(plat::MessageKind::Information, "Imported package successfully");
  else
    s_.ui.ShowMessage(plat::MessageKind::Error, errorMessage);
}

void TLoginForm::btnBrowseClick() {
  if (busy_)
    return;
  std::optional<std::string> folder = s_.ui.PickFolder(
      "Select folder where Veltra Dynamic Remote HMI packages are stored", "Select");
  if (!folder)
    return;
  view_->SetText(ControlId::edtPackageFolder, *folder);
  view_->SetText(ControlId::statusBar, "");
  store::StoreContext store = Store();
  store::SavePackageFolderValue(store, *folder);
}

} // namespace launcher
