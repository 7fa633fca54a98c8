// A verification without a window: the narrow side of the window as plain
// fields, the device context over the fakes, and provisioning branches that
// record their calls.
#pragma once

#include "common/DiagnosticLog.h"
#include "common/LaunchState.h"
#include "common/LaunchView.h"
#include "device/VerifyCredentials.h"
#include "platform/fake/FakePlatform.h"
#include "store/FolderUtils.h"
#include "tests/support/FakeDevice.h"

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// The window's narrow side: the boxes, the mode, the status bar and the
// progress beside it. Pending messages run through the fake UI, so its hook
// sees them.
class FakeLaunchView : public launch::ILaunchView {
public:
  explicit FakeLaunchView(fake::FakeUi& ui) : ui_(ui) {}

  std::string host, userName, password;
  int mode = launch::modeNone;
  std::string status;
  std::string progress;
  std::vector<std::string> progressShown;
  bool browseHidden = false;

  void SetStatusText(const std::string& text) override { status = text; }
  void ShowProgress(const std::string& text) override {
    progress = text;
    progressShown.push_back(text);
  }
  void ProcessMessages() override { ui_.ProcessMessages(); }
  std::string HostText() override { return host; }
  void SetHostText(const std::string& text) override { host = text; }
  std::string UserNameText() override { return userName; }
  std::string PasswordText() override { return password; }
  int SelectedMode() override { return mode; }
  void HideBrowse() override { browseHidden = true; }

private:
  fake::FakeUi& ui_;
};

// A provisioning branch that records its calls, "download:<port>" (the port
// of the session the archives would be read in) or "package", and returns
// what the test asks for; by default two image folders.
class RecordingBranch : public device::ImageSource {
public:
  RecordingBranch(std::string name, std::vector<std::string>& calls)
      : name_(std::move(name)), calls_(calls) {}

  std::function<device::Provisioned(const device::DeviceFacts&, device::DeviceSession&)> answer;

  device::Provisioned Provide(device::LaunchContext&, const device::DeviceFacts& facts,
                              device::DeviceSession& session) override {
    calls_.push_back(name_ == "download" ? name_ + ":" + std::to_string(session.Endpoint().port)
                                         : name_);
    if (answer)
      return answer(facts, session);
    return device::RuntimeImages{"C:\\jre", "C:\\lib", name_ == "download", "", ""};
  }

private:
  std::string name_;
  std::vector<std::string>& calls_;
};

// A device, the fakes, and one launcher's device context, without a window.
struct DeviceRig {
  DeviceRig() {
    device.Install(p.http);
    http.OnValidateServerCertificate = [] { return true; };
    Fill("gw", "admin", "pw");
  }
  void Fill(const std::string& host, const std::string& user, const std::string& pw) {
    view.host = host;
    view.userName = user;
    view.password = pw;
  }
  device::LaunchContext Context() {
    return {p.services, folders, view, last, g, http, log, *downloadBranch, *packageBranch};
  }
  device::Verification Verify() {
    device::LaunchContext c = Context();
    return device::VerifyCredentials(c);
  }
  // The real download branch, the device serving both archives of its
  // default values, and what they hold once they are in the cache.
  void DownloadForReal() {
    downloadBranch = &device::DownloadFromDevice();
    p.http.Route("POST /cgi-bin/ReadBinaryFile.cgi", fake::FakeHttpTransport::Answer(200, "PK"));
    const std::string root = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
    p.archives.archives[p.files.Normalize(root + "\\JRECache\\jre_v_17.0.2.zip")] =
        fake::FakeArchiveContent::Files("zip", {"bin/javaw.exe", "lib/rt.jar"});
    p.archives.archives[p.files.Normalize(root + "\\LIBCache\\lib_hmi_full_410_7_r.zip")] =
        fake::FakeArchiveContent::Files("zip", {"config-gui.jar"});
  }

  fake::FakePlatform p;
  launch::LauncherGlobals g;
  launch::LoginFormState last;
  FakeLaunchView view{p.ui};
  store::FolderUtils folders{p.services};
  device::THttpClient http{p.http};
  launch::DiagnosticLog log{p.services, g.enableLogging};
  FakeDevice device;
  std::vector<std::string> branchCalls;
  RecordingBranch download{"download", branchCalls};
  RecordingBranch package{"package", branchCalls};
  // The branches the context hands on: the recording ones unless a test
  // puts the real ones in.
  device::ImageSource* downloadBranch = &download;
  device::ImageSource* packageBranch = &package;
};

} // namespace testsupport
