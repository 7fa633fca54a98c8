// Whose windows the launcher closes and types into: only the HMI's. Another
// program may show a window with the same title at any time.
#include "hmi/HmiContract.h"
#include "hmi/WindowFinder.h"
#include "launcher/LaunchSequence.h"
#include "launcher/LoginForm.h"
#include "platform/fake/FakePlatform.h"
#include "tests/support/FakeDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using plat::ControlId;
using plat::WindowHandle;

const std::string kJreImage = "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImage\\v17.0.2.0";
const std::string kLibImage =
    "C:\\ProgramData\\Veltra Dynamic Remote HMI\\LIBImage\\v4.10\\v410_0007";
const std::string kForeignProgram = "C:\\Users\\operator\\Downloads\\grabber.exe";

// Both images downloaded and in place, as a cache that holds them would give.
class ImagesInPlace : public device::ImageSource {
public:
  device::Provisioned Provide(device::LaunchContext&, const device::DeviceFacts&,
                              device::DeviceSession&) override {
    return device::RuntimeImages{kJreImage, kLibImage, true, "", ""};
  }
};

// A launcher whose device is trusted and whose HMI shows no prompt: what the
// started process and the others do is up to each test (`onStart`).
struct OwnerLaunch {
  OwnerLaunch() {
    form.Create(p.toolkit);
    device.user = "op";
    device.password = "secret-pw";
    device.Install(p.http);
    p.http.openPorts = {8443};
    view().Type(ControlId::edtHost, "gw:8443");
    view().Type(ControlId::edtUserName, "op");
    view().Type(ControlId::edtPassword, "secret-pw");
    form.downloadBranch = &images;
    g.enableLogging = true;
    p.registry.AddValue(hmi::kTrustKeyName, "gw:8443");
    p.processes.checkFiles = false;
    p.processes.onStart = [this](const fake::ProcessStart& start, uint32_t) {
      hmiId = start.processId;
      if (onStart)
        onStart(start.processId, p.system.tick);
    };
  }
  fake::FakeFormView& view() { return *p.toolkit.view; }
  WindowHandle Login(uint32_t processId, uint32_t at) {
    return p.windows.Add({.title = "Login (gw)", .opensAt = at, .processId = processId});
  }
  std::string Log() const { return p.files.Contents("C:\\Program Files\\Veltra\\Log.txt"); }

  fake::FakePlatform p;
  launch::LauncherGlobals g;
  launcher::TLoginForm form{p.services, g};
  testsupport::FakeDevice device;
  ImagesInPlace images;
  uint32_t hmiId = 0;
  std::function<void(uint32_t hmi, uint32_t now)> onStart;
};

struct TypingCase {
  const char* name;
  // Scripts the windows once the HMI (`hmi`) started at `now`; returns the
  // window that must get the keystrokes, or None when none may.
  std::function<WindowHandle(OwnerLaunch&, uint32_t hmi, uint32_t now)> script;
};

class TypedOnlyIntoTheHmi : public testing::TestWithParam<TypingCase> {};

TEST_P(TypedOnlyIntoTheHmi, NoOtherWindowGetsAKeyOrAMove) {
  OwnerLaunch l;
  WindowHandle expected = WindowHandle::None;
  l.onStart = [&](uint32_t hmi, uint32_t now) { expected = GetParam().script(l, hmi, now); };
  l.view().Click(ControlId::btnLaunch);

  ASSERT_NE(l.hmiId, 0u);
  EXPECT_TRUE(l.view().closed);
  EXPECT_TRUE(l.p.ui.messages.empty());
  for (const fake::JournalEntry& e : l.p.windows.journal.Records()) {
    const bool keyOrMove =
        e.intent == "type" || e.intent == "Tab" || e.intent == "Enter" || e.intent == "move";
    if (keyOrMove) {
      EXPECT_EQ(e.window, expected) << e.Line();
    }
  }
  if (expected != WindowHandle::None) {
    EXPECT_EQ(l.p.windows.Typed(expected), "opsecret-pw");
  } else {
    EXPECT_THAT(l.p.windows.journal.Of("WM_CHAR"), testing::IsEmpty());
    EXPECT_THAT(l.Log(), testing::HasSubstr("passed over"));
  }
  EXPECT_THAT(l.Log(), testing::Not(testing::HasSubstr("secret-pw")));
}

INSTANTIATE_TEST_SUITE_P(
    Table, TypedOnlyIntoTheHmi,
    testing::Values(
        TypingCase{"OwnWindow", [](OwnerLaunch& l, uint32_t hmi,
                                   uint32_t now) { return l.Login(hmi, now + 500); }},
        // The HMI's first program starts the real one, which shows the window.
        TypingCase{"ChildProcessWindow",
                   [](OwnerLaunch& l, uint32_t hmi, uint32_t now) {
                     const uint32_t child =
                         l.p.processes.AddRunning(hmi, kJreImage + "\\bin\\java.exe");
                     const uint32_t grandchild =
                         l.p.processes.AddRunning(child, kJreImage + "\\bin\\javaw.exe");
                     return l.Login(grandchild, now + 500);
                   }},
        TypingCase{"ForeignWindowFirstThenOwn",
                   [](OwnerLaunch& l, uint32_t hmi, uint32_t now) {
                     const uint32_t foreign =
                         l.p.processes.AddRunning(l.p.processes.launcherProcessId, kForeignProgram);
                     // After the prompt's wait (3.5 s), while the login window
                     // is waited for.
                     l.Login(foreign, now + 3600);
                     return l.Login(hmi, now + 6000);
                   }},
        TypingCase{"OwnWindowBelowAForeignOneOnTop",
                   [](OwnerLaunch& l, uint32_t hmi, uint32_t now) {
                     WindowHandle own = l.Login(hmi, now + 300);
                     l.Login(l.p.processes.AddRunning(8, kForeignProgram), now + 600);
                     return own;
                   }},
        TypingCase{"OnlyForeignWindow",
                   [](OwnerLaunch& l, uint32_t, uint32_t now) {
                     l.Login(l.p.processes.AddRunning(8, kForeignProgram), now + 500);
                     return WindowHandle::None;
                   }},
        // A process that names the HMI's id as its parent but is older than
        // the HMI: its parent ended and the id came back for the HMI.
        TypingCase{"OlderProcessUnderAReusedId",
                   [](OwnerLaunch& l, uint32_t hmi, uint32_t now) {
                     l.p.processes.running.push_back(
                         {.id = 9000, .parentId = hmi, .image = kForeignProgram, .started = 1});
                     l.Login(9000, now + 500);
                     return WindowHandle::None;
                   }}),
    [](const testing::TestParamInfo<TypingCase>& info) { return info.param.name; });

TEST(HmiWindowOwner, FailedStartTypesIntoNoWindowOfTheEarlierHmi) {
  OwnerLaunch l;
  // The HMI of an earlier launch is still up with a login window of
  // another host's caption; this launch's start fails.
  l.p.processes.refuseStarts = true;
  WindowHandle earlier =
      l.p.windows.Add({.title = "Login (gw)", .opensAt = l.p.system.tick + 5000});
  l.view().Click(ControlId::btnLaunch);
  EXPECT_EQ(l.p.windows.Typed(earlier), "");
}

// --- the old login window of this host, closed before the start --------------

struct OldWindowCase {
  const char* name;
  std::string program; // what the old window's process runs
  bool hidden;         // its path cannot be read
  bool closed;
};

class OldLoginWindow : public testing::TestWithParam<OldWindowCase> {};

TEST_P(OldLoginWindow, OnlyAnHmiOfTheImagesIsAskedToClose) {
  const OldWindowCase& c = GetParam();
  OwnerLaunch l;
  const uint32_t owner = l.p.processes.AddRunning(8, c.program);
  l.p.processes.running.back().hidden = c.hidden;
  WindowHandle old = l.p.windows.Add({.title = "Login (gw)", .processId = owner});
  l.onStart = [&l](uint32_t hmi, uint32_t now) { l.Login(hmi, now + 500); };
  l.view().Click(ControlId::btnLaunch);

  EXPECT_EQ(l.p.windows.journal.To(old).empty(), !c.closed);
  EXPECT_EQ(l.p.windows.Exists(old), !c.closed);
  // Either way this launch goes on: a foreign window is not this host's
  // login form, so the operator is not asked to close it.
  EXPECT_TRUE(l.p.ui.messages.empty());
  EXPECT_EQ(l.p.windows.Typed(old), "");
  EXPECT_EQ(l.p.processes.starts.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, OldLoginWindow,
    testing::Values(
        OldWindowCase{"EarlierHmi", kJreImage + "\\bin\\javaw.exe", false, true},
        OldWindowCase{"HmiOfAnotherJreImage",
                      "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImage\\v11\\bin\\javaw.exe",
                      false, true},
        OldWindowCase{"ForeignProgram", kForeignProgram, false, false},
        OldWindowCase{"ProgramBesideTheImages",
                      "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImageX\\javaw.exe", false,
                      false},
        OldWindowCase{"PathUnreadable", kJreImage + "\\bin\\javaw.exe", true, false}),
    [](const testing::TestParamInfo<OldWindowCase>& info) { return info.param.name; });

} // namespace
