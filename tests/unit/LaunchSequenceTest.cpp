#include "launcher/LaunchSequence.h"

#include "device/VerifyCredentials.h"
#include "hmi/HmiContract.h"
#include "launcher/LoginForm.h"
#include "platform/fake/FakeDesktop.h"
#include "platform/fake/FakePlatform.h"
#include "tests/support/FakeDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace {

using launcher::TypingStep;
using plat::ControlId;

// --- what is typed, by mode ----------------------------------------------------

TEST(PlanTyping, ByModeAndOptions) {
  using S = TypingStep;
  auto pause = [](uint32_t ms) { return S{S::Pause, "", ms}; };
  auto text = [](const char* t) { return S{S::Text, t, 0}; };
  const S tab{S::Tab, "", 0}, enter{S::Enter, "", 0};
  struct Case {
    const char* name;
    int mode;
    bool autologinOption;
    bool wan;
    std::vector<S> steps;
  } cases[] = {
      {"none",
       0,
       false,
       false,
       {pause(1000), text("op"), tab, pause(600), text("pw"), tab, pause(600), enter}},
      {"none, slow link",
       0,
       false,
       true,
       {pause(1000), pause(2000), text("op"), tab, pause(600), text("pw"), tab, pause(600), enter}},
      // Auto-login by hand: empty fields, but the normal pauses.
      {"auto-login by hand",
       1,
       false,
       true,
       {pause(1000), pause(2000), text(""), tab, pause(600), text(""), tab, pause(600), enter}},
      // "-autologin": no start-up or slow-link pause, and 100 ms between the
      // fields whatever SendKeysPause says.
      {"-autologin", 1, true, true, {text(""), tab, pause(100), text(""), tab, pause(100), enter}},
      {"emergency access", 2, false, false, {}},
  };
  for (const Case& c : cases) {
    launch::LauncherGlobals g;
    g.doAutoLogin = c.autologinOption;
    EXPECT_EQ(launcher::PlanTyping(c.mode, g, c.wan, "op", "pw"), c.steps) << c.name;
  }
}

TEST(MovesLoginWindow, ByOptionAndRelease) {
  struct Case {
    bool hide, autologinOption;
    int32_t release;
    bool moves;
  } cases[] = {{true, false, 410, true},
               {false, false, 410, false},
               {false, true, 410, true},
               {true, false, 90, true},
               {true, true, 89, false}};
  for (const Case& c : cases) {
    launch::LauncherGlobals g;
    g.HideLoginForm = c.hide;
    g.doAutoLogin = c.autologinOption;
    EXPECT_EQ(launcher::MovesLoginWindow(g, c.release), c.moves)
        << c.hide << c.autologinOption << c.release;
  }
}

// --- the whole sequence on the fakes -------------------------------------------

const std::string kJreImage = "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JREImage\\v17.0.2.0";
const std::string kLibImage =
    "C:\\ProgramData\\Veltra Dynamic Remote HMI\\LIBImage\\v4.10\\v410_0007";

// How the scripted HMI behaves once started, in ms after its start.
struct HmiScript {
  bool trustedBefore = false;
  std::optional<uint32_t> promptAt = 300; // the certificate prompt opens
  uint32_t promptOpenFor = 1000;          // the operator answers after this
  bool accepts = true;                    // ... by accepting the certificate
  std::optional<uint32_t> loginAt = 2000; // the login window opens
  bool loginRefusesMove = false;
  // A window with the same login title opens, made by another program.
  std::optional<uint32_t> foreignLoginAt = std::nullopt;
};

// The fake process id of a program that is not the HMI.
constexpr uint32_t kForeignProcess = 0x4242;

// A keystroke that reached the login window: "type 'o'", "Tab", "Enter".
using Key = std::string;

// Provides both images at once, as a cache that holds them would.
class ImagesInPlace : public device::ImageSource {
public:
  std::function<void()> during;
  device::Provisioned Provide(device::LaunchContext&, const device::DeviceFacts&,
                              device::DeviceSession&) override {
    if (during)
      during();
    return device::RuntimeImages{kJreImage, kLibImage, true, "", ""};
  }
};

// One launcher with its device and HMI, driven like an operator would.
struct Launch {
  explicit Launch(HmiScript hmiScript = {}) : hmi(hmiScript) {
    form.Create(p.toolkit);
    device.user = "op";
    device.Install(p.http);
    p.http.openPorts = {8443};
    view().Type(ControlId::edtHost, "gw:8443");
    view().Type(ControlId::edtUserName, "op");
    view().Type(ControlId::edtPassword, "pw");
    images.during = [this] {
      if (duringProvisioning)
        duringProvisioning();
    };
    form.downloadBranch = &images;
    if (hmi.trustedBefore)
      p.registry.AddValue(hmi::kTrustKeyName, "gw:8443");
    p.processes.checkFiles = false;
    p.processes.onStart = [this](const fake::ProcessStart&, uint32_t) {
      const uint32_t t = p.system.tick;
      hmiStartedAt = t;
      if (hmi.promptAt) {
        fake::FakeWindow prompt;
        prompt.title = "Warning";
        prompt.opensAt = t + *hmi.promptAt;
        prompt.closesAt = t + *hmi.promptAt + hmi.promptOpenFor;
        p.windows.Add(prompt);
        if (hmi.accepts)
          p.registry.AddValue(hmi::kTrustKeyName, "gw:8443", *prompt.closesAt);
      }
      if (hmi.loginAt) {
        fake::FakeWindow login;
        login.title = "Login (gw)";
        login.opensAt = t + *hmi.loginAt;
        login.refusesMove = hmi.loginRefusesMove;
        loginWindow = p.windows.Add(login);
      }
      if (hmi.foreignLoginAt) {
        fake::FakeWindow foreign;
        foreign.title = "Login (gw)";
        foreign.opensAt = t + *hmi.foreignLoginAt;
        foreign.processId = kForeignProcess;
        foreignWindow = p.windows.Add(foreign);
      }
    };
  }
  fake::FakeFormView& view() { return *p.toolkit.view; }
  void PressLaunch() { view().Click(ControlId::btnLaunch); }
  std::string Typed() const {
    return loginWindow == plat::WindowHandle::None ? "" : p.windows.Typed(loginWindow);
  }
  // The characters and keys that went to the login window, in order.
  std::vector<Key> Keys() const {
    std::vector<Key> keys;
    for (const fake::JournalEntry& e : p.windows.journal.To(loginWindow))
      if (e.found && IsKey(e))
        keys.push_back(e.text.empty() ? e.intent : e.intent + " " + e.text);
    return keys;
  }
  static bool IsKey(const fake::JournalEntry& e) {
    return e.intent == "type" || e.intent == "Tab" || e.intent == "Enter";
  }
  // Where in the journal the first record of `intent` to the login window
  // is, with these arguments when given; the journal's size when there is none.
  size_t IndexOf(const std::string& intent, std::optional<std::string> arguments = {}) const {
    const auto& records = p.windows.journal.Records();
    for (size_t i = 0; i < records.size(); ++i)
      if (records[i].window == loginWindow && records[i].found && records[i].intent == intent &&
          (!arguments || records[i].text == *arguments))
        return i;
    return records.size();
  }
  bool Slept(uint32_t ms) const {
    return std::count(p.system.sleeps.begin(), p.system.sleeps.end(), ms) > 0;
  }
  size_t Logins() const {
    auto paths = p.http.Paths();
    return std::count(paths.begin(), paths.end(), "POST /LOGIN");
  }

  HmiScript hmi;
  ImagesInPlace images;
  fake::FakePlatform p;
  launch::LauncherGlobals g;
  launcher::TLoginForm form{p.services, g};
  testsupport::FakeDevice device;
  std::function<void()> duringProvisioning;
  plat::WindowHandle loginWindow = plat::WindowHandle::None;
  plat::WindowHandle foreignWindow = plat::WindowHandle::None;
  uint32_t hmiStartedAt = 0;
};

const std::vector<Key> kTypedNone = {"type 'o'", "type 'p'", "Tab",  "type 'p'",
                                     "type 'w'", "Tab",      "Enter"};

TEST(LaunchSequence, CredentialsTypedIntoTheLoginWindowOffScreen) {
  Launch l;
  l.PressLaunch();
  ASSERT_EQ(l.p.processes.starts.size(), 1u);
  const fake::ProcessStart& start = l.p.processes.starts[0];
  EXPECT_EQ(start.commandLine.rfind(kJreImage + "\\bin\\javaw.exe --add-opens", 0), 0u)
      << start.commandLine;
  EXPECT_EQ(start.currentDirectory, kJreImage);
  EXPECT_NE(l.g.proc_id, 0u);
  EXPECT_EQ(l.Keys(), kTypedNone);
  EXPECT_EQ(l.Typed(), "oppw");
  // The window's client takes the device's certificate, whatever it is.
  EXPECT_TRUE(l.p.http.certificateAccepted);
  // Moved off-screen before the first key.
  EXPECT_LT(l.IndexOf("move", "20000,20000 800x600"), l.IndexOf("type"));
  EXPECT_TRUE(l.Slept(1000)); // StartupPause
  EXPECT_TRUE(l.Slept(600));  // SendKeysPause
  EXPECT_TRUE(l.view().closed);
  EXPECT_TRUE(l.p.ui.messages.empty());
  EXPECT_TRUE(l.p.ui.busy); // the hour-glass stays until the launcher is gone
}

TEST(LaunchSequence, AutologinOptionTypesOnlyTabsAndEnterWithShortPauses) {
  Launch l({.trustedBefore = true, .promptAt = std::nullopt});
  l.p.system.arguments.push_back("-autologin");
  l.g.HideLoginForm = false;
  l.device.autologin = "enabled";
  // Start-up again with the option, as the program would see it.
  l.form.FormCreate();
  l.view().Type(ControlId::edtHost, "gw:8443");
  l.g.HideLoginForm = false;
  l.PressLaunch();
  EXPECT_EQ(l.Keys(), (std::vector<Key>{"Tab", "Tab", "Enter"}));
  // The fields are 100 ms apart; the option itself stays as it was read.
  EXPECT_EQ(l.g.SendKeysPause, 600);
  EXPECT_TRUE(l.Slept(100));
  EXPECT_FALSE(l.Slept(600));
  EXPECT_FALSE(l.Slept(1000)); // no start-up pause
  // Moved off-screen although HideLoginForm is off.
  EXPECT_LT(l.IndexOf("move", "20000,20000 800x600"), l.p.windows.journal.size());
  EXPECT_TRUE(l.view().closed);
}

TEST(LaunchSequence, AutoLoginByHandKeepsTheLoginWindowWhereItIsWithoutHideOption) {
  Launch l;
  l.device.autologin = "enabled";
  l.g.HideLoginForm = false;
  l.view().SelectMode(launch::modeAutoLogin);
  l.PressLaunch();
  EXPECT_EQ(l.Typed(), "");
  EXPECT_EQ(l.Keys().size(), 3u);
  EXPECT_THAT(l.p.windows.journal.Of("move"), testing::IsEmpty());
  EXPECT_TRUE(l.Slept(1000));
  EXPECT_TRUE(l.Slept(600));
}

// Characters and keys go to the HMI's login window and nowhere else.
void ExpectTypedOnlyIntoTheLoginWindow(const Launch& l, const std::string& name) {
  for (const fake::JournalEntry& e : l.p.windows.journal.Records())
    if (Launch::IsKey(e)) {
      EXPECT_TRUE(e.found && e.window == l.loginWindow) << name << ": " << e.Line();
    }
}

TEST(LaunchSequence, Outcomes) {
  struct Case {
    const char* name;
    HmiScript hmi;
    std::function<void(Launch&)> setUp;
    std::optional<std::string> box; // the message shown, if any
    bool closes;
    bool started;
    std::string typed;
  } cases[] = {
      {"verification failed",
       {},
       [](Launch& l) { l.view().Type(ControlId::edtPassword, "bad"); },
       "The credentials provided are incorrect for this device.",
       false,
       false,
       ""},
      // The port is read after the first colon: an IPv6 address has none to read.
      {"IPv6 address in the host box",
       {},
       [](Launch& l) { l.view().Type(ControlId::edtHost, "[::1]:8443"); },
       "Unable to connect to a device at the specified address.",
       false,
       false,
       ""},
      {"old login window would not close",
       {},
       [](Launch& l) {
         fake::FakeWindow old;
         old.title = "LOGIN (GW)"; // letter case aside
         old.refusesClose = true;
         l.p.windows.Add(old);
       },
       "Please close the login form for this host.",
       true,
       false,
       ""},
      {"certificate prompt closed without accepting",
       {.accepts = false},
       nullptr,
       std::nullopt,
       true,
       true,
       ""},
      {"no prompt and no trust record",
       {.promptAt = std::nullopt},
       nullptr,
       std::nullopt,
       true,
       true,
       ""},
      {"emergency access",
       {},
       [](Launch& l) {
         l.device.emergency = "true";
         l.view().SelectMode(launch::modeEmergencyAccess);
         l.view().Type(ControlId::edtUserName, l.device.emergencyCode);
       },
       std::nullopt,
       true,
       true,
       ""},
      {"trusted before, no login window",
       {.trustedBefore = true, .promptAt = std::nullopt, .loginAt = std::nullopt},
       nullptr,
       std::nullopt,
       true,
       true,
       ""},
      {"login window that refuses to move",
       {.loginRefusesMove = true},
       nullptr,
       std::nullopt,
       true,
       true,
       "oppw"},
      {"credentials typed", {}, nullptr, std::nullopt, true, true, "oppw"},
      // The device presents another certificate than the one on record: a
      // No leaves the window as it was, for another try, with no box on top.
      {"changed certificate, answered No",
       {},
       [](Launch& l) {
         testsupport::RecordCertificates(
             l.p, "gw:8443 " + std::string(testsupport::kOtherCertificate) + "\r\n");
       },
       std::nullopt,
       false,
       false,
       ""},
      {"changed certificate, answered Yes",
       {},
       [](Launch& l) {
         testsupport::RecordCertificates(
             l.p, "gw:8443 " + std::string(testsupport::kOtherCertificate) + "\r\n");
         l.p.ui.yesNoAnswers = {true};
       },
       std::nullopt,
       true,
       true,
       "oppw"},
  };
  for (const Case& c : cases) {
    Launch l(c.hmi);
    if (c.setUp)
      c.setUp(l);
    l.PressLaunch();
    if (c.box) {
      ASSERT_EQ(l.p.ui.messages.size(), 1u) << c.name;
      EXPECT_EQ(l.p.ui.messages[0].text, *c.box) << c.name;
    } else {
      EXPECT_TRUE(l.p.ui.messages.empty()) << c.name;
    }
    EXPECT_EQ(l.view().closed, c.closes) << c.name;
    EXPECT_EQ(!l.p.processes.starts.empty(), c.started) << c.name;
    EXPECT_EQ(l.Typed(), c.typed) << c.name;
    // Nothing is ever typed into another window.
    ExpectTypedOnlyIntoTheLoginWindow(l, c.name);
  }
}

// The wait for the certificate prompt ends when the prompt has come and
// gone, when the time runs out, or when the HMI's own login window is up (the
// prompt always comes before it). `goesOnAt` is when the launch went past
// that wait, in ms after the HMI started: read from when the launcher closed,
// less what followed (the login-window wait, the pauses of the typing, or the
// trust record's wait).
TEST(LaunchSequence, PromptWait) {
  // StartupPause and twice SendKeysPause: from the login window to the end.
  // They are slept even when there is no window to type into.
  constexpr uint32_t kTyping = 1000 + 600 + 600;
  // An open prompt is looked at every 200 ms, and its closing seen only then.
  constexpr uint32_t kPromptPoll = 200;
  struct Case {
    const char* name;
    HmiScript hmi;
    std::string typed;
    std::optional<uint32_t> closesAt; // after the HMI started
  } cases[] = {
      // The device was trusted: the login window comes at once, no prompt;
      // the typing begins one StartupPause after it, not after 3.5 s.
      {"trusted, login window at 300 ms",
       {.trustedBefore = true, .promptAt = std::nullopt, .loginAt = 300},
       "oppw",
       300 + kTyping},
      // A prompt that comes is waited on until the operator has answered it.
      {"prompt answered, then the login window",
       {.promptAt = 300, .promptOpenFor = 1000, .loginAt = 2000},
       "oppw",
       2000 + kTyping},
      // ... even when the login window shows while it is still open.
      {"trusted, prompt still open when the login window comes",
       {.trustedBefore = true, .promptAt = 300, .promptOpenFor = 1000, .loginAt = 500},
       "oppw",
       1300 + kPromptPoll + kTyping},
      // Another program's window with the login title is not the HMI's: the
      // prompt wait runs its 3.5 s, then the login-window wait its 10 s.
      {"trusted, only a foreign login window",
       {.trustedBefore = true,
        .promptAt = std::nullopt,
        .loginAt = std::nullopt,
        .foreignLoginAt = 300},
       "",
       3500 + 10000 + kTyping},
      {"trusted, foreign login window, then the HMI's",
       {.trustedBefore = true, .promptAt = std::nullopt, .loginAt = 2000, .foreignLoginAt = 300},
       "oppw",
       2000 + kTyping},
      // No prompt and no trust record: the login window ends the prompt wait,
      // the trust record is then waited for in vain, nothing is typed.
      {"untrusted, no prompt, login window at 300 ms",
       {.promptAt = std::nullopt, .loginAt = 300},
       "",
       std::nullopt},
      {"trusted, no prompt, no login window",
       {.trustedBefore = true, .promptAt = std::nullopt, .loginAt = std::nullopt},
       "",
       3500 + 10000 + kTyping},
  };
  for (const Case& c : cases) {
    Launch l(c.hmi);
    l.PressLaunch();
    EXPECT_TRUE(l.view().closed) << c.name;
    EXPECT_TRUE(l.p.ui.messages.empty()) << c.name;
    EXPECT_EQ(l.Typed(), c.typed) << c.name;
    if (c.closesAt) {
      EXPECT_EQ(l.p.system.tick - l.hmiStartedAt, *c.closesAt) << c.name;
    }
    if (l.foreignWindow != plat::WindowHandle::None) {
      EXPECT_THAT(l.p.windows.journal.To(l.foreignWindow), testing::IsEmpty()) << c.name;
    }
    ExpectTypedOnlyIntoTheLoginWindow(l, c.name);
  }
}

TEST(LaunchSequence, OldLoginWindowThatClosesIsGivenThreeSeconds) {
  Launch l;
  fake::FakeWindow old;
  old.title = "Login (gw)";
  plat::WindowHandle oldWindow = l.p.windows.Add(old);
  l.PressLaunch();
  EXPECT_FALSE(l.p.windows.Exists(oldWindow));
  EXPECT_TRUE(l.Slept(3000));
  EXPECT_EQ(l.Typed(), "oppw");
}

TEST(LaunchSequence, HmiOfThisRunStillRunningIsNotStartedTwice) {
  Launch l;
  l.PressLaunch();
  ASSERT_EQ(l.p.processes.starts.size(), 1u);
  // The launcher has closed its window, but a press still queued runs.
  l.view().closed = false;
  l.p.windows.Script(l.loginWindow).closesAt = l.p.system.tick; // the HMI logged in
  l.PressLaunch();
  ASSERT_EQ(l.p.ui.messages.size(), 1u);
  EXPECT_EQ(l.p.ui.messages[0].kind, plat::MessageKind::Warning);
  EXPECT_EQ(l.p.ui.messages[0].text, "Application is already loaded");
  EXPECT_EQ(l.p.processes.starts.size(), 1u);
  EXPECT_FALSE(l.view().closed);
}

// Presses that arrive while pending messages run during provisioning: a
// second launch would log in again and replace this launch's session, an
// import or a new package folder would change the images it is filling.
TEST(LaunchSequence, PressesDuringProvisioningAreRefused) {
  const ControlId buttons[] = {ControlId::btnLaunch, ControlId::btnImportPackage,
                               ControlId::btnBrowse};
  Launch l;
  std::vector<bool> enabledMeanwhile;
  l.duringProvisioning = [&] {
    for (ControlId button : buttons) {
      enabledMeanwhile.push_back(l.view().Enabled(button));
      l.view().Click(button);
    }
  };
  l.PressLaunch();
  EXPECT_EQ(enabledMeanwhile, std::vector<bool>(3, false));
  EXPECT_EQ(l.Logins(), 1u);
  EXPECT_TRUE(l.p.ui.fileRequests.empty());
  EXPECT_TRUE(l.p.ui.folderRequests.empty());
  EXPECT_EQ(l.p.processes.starts.size(), 1u);
  EXPECT_EQ(l.Typed(), "oppw");
  for (ControlId button : buttons)
    EXPECT_TRUE(l.view().Enabled(button));
}

TEST(LaunchSequence, FailedVerificationLeavesLaunchUsable) {
  Launch l;
  l.view().Type(ControlId::edtPassword, "bad");
  l.PressLaunch();
  EXPECT_TRUE(l.view().Enabled(ControlId::btnLaunch));
  EXPECT_FALSE(l.p.ui.busy);
  l.view().Type(ControlId::edtPassword, "pw");
  l.PressLaunch();
  EXPECT_EQ(l.Typed(), "oppw");
}

TEST(LaunchSequence, HmiThatFailsToStartEndsWithoutABox) {
  Launch l({.trustedBefore = true});
  l.p.processes.refuseStarts = true;
  const uint32_t pressed = l.p.system.tick;
  l.PressLaunch();
  EXPECT_EQ(l.g.proc_id, 0u);
  EXPECT_TRUE(l.p.ui.messages.empty());
  EXPECT_TRUE(l.view().closed);
  // The prompt wait, then the login-window wait ran out.
  EXPECT_GE(l.p.system.tick - pressed, 3500u + 10000u);
}

// What the operator does while the HMI half runs, and what a hung HMI does,
// must neither redirect nor hold the launch.
TEST(LaunchSequence, NothingDuringTheHmiHalfRedirectsOrHoldsIt) {
  struct Case {
    const char* name;
    HmiScript hmi;
    // Runs at every turn of the launcher's messages once the HMI started.
    std::function<void(Launch&)> meanwhile;
    std::function<void(Launch&)> setUp;
    std::string typed;
    bool closes;
    const char* logged; // a line of the developer log, when one is expected
  } cases[] = {
      // A second press while the prompt is open or the login window is
      // awaited runs nothing: no second login, no box.
      {"Launch pressed during the waits",
       {},
       [](Launch& l) { l.view().Click(ControlId::btnLaunch); },
       nullptr,
       "oppw",
       true,
       nullptr},
      // The host box edited after the device was verified: the HMI still
      // gets the verified device, and the login window is the verified
      // device's.
      {"host box edited during the waits",
       {},
       [](Launch& l) { l.view().Type(ControlId::edtHost, "elsewhere:9443"); },
       nullptr,
       "oppw",
       true,
       nullptr},
      // The password box edited meanwhile: what was verified is typed.
      {"password box edited during the waits",
       {},
       [](Launch& l) { l.view().Type(ControlId::edtPassword, "other"); },
       nullptr,
       "oppw",
       true,
       nullptr},
      // A login window that takes the user name, then hangs: typing stops
      // there, after one keystroke's time limit, and the launcher closes.
      {"login window hangs after the user name",
       {},
       nullptr,
       [](Launch& l) {
         l.p.processes.onStart = [&l, start = l.p.processes.onStart](const fake::ProcessStart& s,
                                                                     uint32_t process) {
           start(s, process);
           l.p.windows.Script(l.loginWindow).hangsAfterChars = 2;
         };
       },
       "op",
       true,
       "did not take a keystroke"},
      // The operator closes the launcher while it types: nothing more goes.
      {"launcher closed while typing",
       {},
       nullptr,
       [](Launch& l) {
         l.p.windows.onIntent = [&l](const fake::JournalEntry& e) {
           if (e.intent == "type")
             l.view().CloseBox();
         };
       },
       "o",
       true,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Launch l(c.hmi);
    l.g.enableLogging = true;
    if (c.setUp)
      c.setUp(l);
    if (c.meanwhile)
      l.p.ui.onProcessMessages = [&] {
        if (l.hmiStartedAt != 0)
          c.meanwhile(l);
      };
    l.PressLaunch();
    EXPECT_EQ(l.Logins(), 1u);
    EXPECT_TRUE(l.p.ui.messages.empty());
    ASSERT_EQ(l.p.processes.starts.size(), 1u);
    EXPECT_NE(l.p.processes.starts[0].commandLine.find("-host gw -port 8443"), std::string::npos)
        << l.p.processes.starts[0].commandLine;
    EXPECT_EQ(l.Typed(), c.typed);
    EXPECT_EQ(l.view().closed, c.closes);
    ExpectTypedOnlyIntoTheLoginWindow(l, c.name);
    if (c.logged) {
      const std::string log = l.p.files.ReadFile(l.form.Log().GetLogFileName());
      EXPECT_NE(log.find(c.logged), std::string::npos) << log;
      EXPECT_EQ(log.find("pw"), std::string::npos) << log;
    }
  }
}

// A prompt is expected for a device not trusted before: a login window that
// shows first does not end the wait for it, and the operator may take longer
// over the prompt than the trust record is waited for.
TEST(LaunchSequence, UntrustedDeviceWaitsForThePromptEvenAfterTheLoginWindow) {
  Launch l({.promptAt = 1500, .promptOpenFor = 6000, .loginAt = 300});
  l.PressLaunch();
  EXPECT_EQ(l.Typed(), "oppw");
  EXPECT_TRUE(l.view().closed);
}

} // namespace
