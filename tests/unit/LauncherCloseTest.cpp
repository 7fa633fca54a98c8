// Closing the launcher's window while a launch is under way: the launch gives
// up where it is, cleans up as after a failure, and starts, shows, moves and
// types nothing more.
#include "hmi/HmiContract.h"
#include "launcher/LoginForm.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePlatform.h"
#include "store/ImageInstall.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

using plat::ControlId;

const std::string kRoot = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
const std::string kJreCache = kRoot + "\\JRECache\\jre_v_17.0.2.zip";
const std::string kJreImage = kRoot + "\\JREImage\\v17.0.2.0";

// One launcher downloading from its device into an empty cache, and an HMI
// that shows its login window two seconds after its start.
struct CloseRig {
  CloseRig() {
    form.Create(p.toolkit);
    device.user = "op";
    device.Install(p.http);
    p.http.openPorts = {8443};
    view().Type(ControlId::edtHost, "gw:8443");
    view().Type(ControlId::edtUserName, "op");
    view().Type(ControlId::edtPassword, "pw");
    p.http.routes["POST /cgi-bin/ReadBinaryFile.cgi"] = [this](const plat::HttpRequest& r,
                                                               std::string&) {
      const bool jre = r.body.find("/jre/") != std::string::npos;
      if (duringDownload)
        duringDownload();
      return std::optional(fake::FakeHttpTransport::Answer(200, jre ? "jre-archive" : "lib"));
    };
    p.archives.archives[p.files.Normalize(kJreCache)] =
        fake::FakeArchiveContent::Files("zip", {"bin/javaw.exe", "lib/rt.jar", "lib/more.jar"});
    p.archives.archives[p.files.Normalize(kRoot + "\\LIBCache\\lib_hmi_full_410_7_r.zip")] =
        fake::FakeArchiveContent::Files("zip", {"config-gui.jar", "hmi.jar"});
    p.registry.AddValue(hmi::kTrustKeyName, "gw:8443");
    p.processes.checkFiles = false;
    p.processes.onStart = [this](const fake::ProcessStart&, uint32_t) {
      fake::FakeWindow login;
      login.title = "Login (gw)";
      login.opensAt = p.system.tick + 2000;
      p.windows.Add(login);
      if (afterStart)
        afterStart();
    };
  }
  fake::FakeFormView& view() { return *p.toolkit.view; }
  void CloseBox() { view().CloseBox(); }
  size_t Requests(const std::string& methodAndPath) const {
    auto paths = p.http.Paths();
    return std::count(paths.begin(), paths.end(), methodAndPath);
  }

  fake::FakePlatform p;
  launch::LauncherGlobals g;
  launcher::TLoginForm form{p.services, g};
  testsupport::FakeDevice device;
  std::function<void()> duringDownload;
  std::function<void()> afterStart;
};

TEST(LauncherClose, AClosedLauncherGivesUpAndLeavesNothingBehind) {
  struct Case {
    const char* name;
    std::function<void(CloseRig&)> closeDuring;
    bool hmiStarted;
    bool archiveCached; // a whole download stays for the next launch
    bool imageInstalled = false;
  } cases[] = {
      {"during the download", [](CloseRig& r) { r.duringDownload = [&r] { r.CloseBox(); }; }, false,
       false},
      {"during the extraction",
       [](CloseRig& r) {
         r.p.archives.onExtractItem = [&r](const std::string& target) {
           if (target.find("rt.jar") != std::string::npos)
             r.CloseBox();
         };
       },
       false, true},
      {"while another launcher holds the images",
       [](CloseRig& r) {
         r.p.system.locksHeldElsewhere.insert(store::kRuntimeImagesLock);
         r.p.ui.onProcessMessages = [&r] {
           if (r.view().texts[ControlId::statusBar] ==
               "Waiting for another launcher to provide the runtime images...")
             r.CloseBox();
         };
       },
       false, false},
      {"after the HMI started", [](CloseRig& r) { r.afterStart = [&r] { r.CloseBox(); }; }, true,
       true, true},
      // Before release 4.10 the operator is asked for a new code once the
      // session has ended.
      {"while asked for a new emergency code",
       [](CloseRig& r) {
         r.device.ext["build_version"] = "\"Build 12 Release 400 x\"";
         r.device.emergency = "true";
         r.view().SelectMode(launch::modeEmergencyAccess);
         r.view().Type(ControlId::edtUserName, "EC-1");
         r.p.ui.onMessage = [&r](const fake::ShownMessage&) { r.CloseBox(); };
       },
       false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CloseRig r;
    c.closeDuring(r);
    r.view().Click(ControlId::btnLaunch);

    EXPECT_TRUE(r.view().closed);
    // Nothing shown, or only the question the operator closed the window on.
    EXPECT_LE(r.p.ui.messages.size(), r.p.ui.onMessage ? 1u : 0u);
    EXPECT_EQ(r.p.processes.starts.size(), c.hmiStarted ? 1u : 0u);
    // The login window, there or not, is neither moved nor typed into.
    for (const std::string& line : r.p.windows.journal)
      EXPECT_EQ(line.find("Login (gw)"), std::string::npos) << line;
    // The device's session ends, and the next launcher need not wait.
    EXPECT_EQ(r.Requests("POST /LOGOUT"), 1u);
    EXPECT_EQ(r.Requests("POST /LOGIN"), 1u); // no other port tried
    EXPECT_TRUE(r.p.system.locksHeld.empty());
    // Nothing partial: no part file, no scratch folder, no half an image.
    for (const std::string& path : r.p.files.Below(kRoot)) {
      EXPECT_EQ(path.find(".part"), std::string::npos) << path;
      EXPECT_EQ(path.find("~"), std::string::npos) << path;
    }
    EXPECT_EQ(r.p.files.FileExists(kJreCache), c.archiveCached);
    EXPECT_EQ(r.p.files.FileExists(kJreImage + "\\bin\\javaw.exe"), c.imageInstalled);
    // A launch after the close is not run: the window is gone.
    const size_t requests = r.p.http.requests.size();
    r.view().Click(ControlId::btnLaunch);
    EXPECT_EQ(r.p.http.requests.size(), requests);
  }
}

} // namespace
