#include "launcher/LoginForm.h"
#include "launcher/VeltraDynamicRemoteHMI.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace {

using launcher::TLoginForm;
using plat::ControlId;

class StartupTest : public ::testing::Test {
protected:
  void Start(std::vector<std::string> args = {}) {
    for (auto& a : args)
      p.system.arguments.push_back(a);
    form.Create(p.toolkit);
  }
  fake::FakeFormView& view() { return *p.toolkit.view; }
  std::string box(ControlId id) { return view().Text(id); }
  std::vector<std::string> errors() {
    std::vector<std::string> out;
    for (auto& m : p.ui.messages)
      if (m.kind == plat::MessageKind::Error)
        out.push_back(m.text);
    return out;
  }
  void Developer() { p.system.environment["KLOX_DATA_DIR"] = "C:\\data"; }
  const std::string logPath = "C:\\Program Files\\Veltra\\Log.txt";

  fake::FakePlatform p;
  launcher::LauncherGlobals g;
  TLoginForm form{p.services, g};
};

TEST_F(StartupTest, PlainStartGivesEmptyBoxesModeNoneAndDefaults) {
  Start();
  EXPECT_EQ(view().Caption(), "Veltra Substation Gateway - Dynamic Remote HMI v1.2.0.1");
  EXPECT_EQ(box(ControlId::edtHost), "");
  EXPECT_EQ(box(ControlId::edtUserName), "");
  EXPECT_EQ(box(ControlId::edtPassword), "");
  EXPECT_EQ(view().ItemIndex(), 0);
  EXPECT_EQ(g.StartupPause, 1000);
  EXPECT_EQ(g.SendKeysPause, 600);
  EXPECT_TRUE(g.HideLoginForm);
  EXPECT_FALSE(g.isDeveloper);
  EXPECT_FALSE(g.enableLogging);
  EXPECT_FALSE(g.doAutoLogin);
  EXPECT_TRUE(g.enableDownload);
  EXPECT_TRUE(p.ui.messages.empty());
  EXPECT_TRUE(p.ui.iconsOn);
  EXPECT_TRUE(p.files.AllFiles().empty());
}

TEST_F(StartupTest, NoVersionRecordLeavesTheCaptionAlone) {
  p.system.fileVersion.reset();
  Start();
  EXPECT_EQ(view().Caption(), "Veltra Substation Gateway - Dynamic Remote HMI");
  EXPECT_EQ(form.GetVersion(), "");
}

TEST_F(StartupTest, VersionTextFromBothWords) {
  p.system.fileVersion = plat::FileVersion{0x000A0014, 0x001E0028};
  uint16_t a, b, c, d;
  ASSERT_TRUE(form.GetBuildInfo(a, b, c, d));
  EXPECT_EQ(form.GetVersion(), "v10.20.30.40");
}

TEST_F(StartupTest, DeveloperModeKeepsDefaultBoxes) {
  Developer();
  Start();
  EXPECT_TRUE(g.isDeveloper);
  EXPECT_TRUE(g.enableLogging);
  EXPECT_EQ(box(ControlId::edtHost), plat::kDefaultHost);
  EXPECT_EQ(box(ControlId::edtUserName), "admin");
  EXPECT_EQ(box(ControlId::edtPassword).size(), 8u);
}

TEST_F(StartupTest, EmptyDeveloperVariableIsNotDeveloperMode) {
  p.system.environment["KLOX_DATA_DIR"] = "";
  Start();
  EXPECT_FALSE(g.isDeveloper);
}

TEST_F(StartupTest, CommandLineCases) {
  struct Case {
    std::vector<std::string> args;
    std::string host;
    std::string user;
    int mode;
    bool autoLogin;
  } cases[] = {
      {{"-host", "gw1", "-port", "8443"}, "gw1:8443", "", 0, false},
      {{"-port", "8443", "-host", "gw1"}, "gw1:8443", "", 0, false},
      {{"-host", "gw1:9443", "-port", "8443"}, "gw1:9443", "", 0, false},
      {{"-host", "gw1", "-port", "abc"}, "gw1", "", 0, false},
      {{"-host", "gw1", "-port", "8443", "-port", "abc"}, "gw1:8443", "", 0, false},
      {{"-host", "gw1", "-port", "8443", "-port", "9443"}, "gw1:9443", "", 0, false},
      {{"-port", "8443"}, ":8443", "", 0, false},
      {{"-port", "08443", "-host", "h"}, "h:08443", "", 0, false},
      {{"-HOST", "gw1"}, "", "", 0, false},
      {{"-host"}, "", "", 0, false},
      {{"-host", "-username", "x"}, "-username", "x", 0, false},
      {{"-username", "-autologin"}, "", "-autologin", 1, true},
      {{"-autologin", "-username", "bob"}, "", "bob", 1, true},
      {{"/host", "gw1", "--autologin", "x"}, "", "", 0, false},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    launcher::LauncherGlobals fg;
    TLoginForm f(fp.services, fg);
    for (auto& a : c.args)
      fp.system.arguments.push_back(a);
    f.Create(fp.toolkit);
    std::string label;
    for (auto& a : c.args)
      label += a + " ";
    EXPECT_EQ(fp.toolkit.view->Text(ControlId::edtHost), c.host) << label;
    EXPECT_EQ(fp.toolkit.view->Text(ControlId::edtUserName), c.user) << label;
    EXPECT_EQ(fp.toolkit.view->ItemIndex(), c.mode) << label;
    EXPECT_EQ(fg.doAutoLogin, c.autoLogin) << label;
    EXPECT_TRUE(fp.ui.messages.empty()) << label;
  }
}

TEST_F(StartupTest, AutologinHidesCredentialsAndPressesLaunchOnceAfterShow) {
  Start({"-autologin"});
  EXPECT_FALSE(view().Visible(ControlId::edtUserName));
  EXPECT_FALSE(view().Visible(ControlId::edtPassword));
  EXPECT_FALSE(view().timerEnabled); // not before the window shows
  view().Show();
  EXPECT_TRUE(view().timerEnabled);
  p.toolkit.RunMessageLoop();
  EXPECT_FALSE(view().timerEnabled);
}

TEST_F(StartupTest, WithoutAutologinShowingStartsNothing) {
  Start();
  view().Show();
  EXPECT_FALSE(view().timerEnabled);
}

TEST_F(StartupTest, ParamsFileCases) {
  struct Case {
    const char* content;
    int32_t startup;
    int32_t sendKeys;
    bool hide;
  } cases[] = {
      {"0\r\n0\r\n", 0, 0, true},
      {"0\n0\nfalse\n", 0, 0, false},
      {"0\n0\n0", 0, 0, false},
      {"250\n100\nTRUE\nignored\nlines", 250, 100, true},
      {"2000\r\n50\r\n7", 2000, 50, true},
      {" 1500 \n 40 \n", 1500, 40, true},
      // Saved by an editor that writes a byte-order mark.
      {"\xEF\xBB\xBF"
       "300\r\n20\r\nfalse\r\n",
       300, 20, false},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    launcher::LauncherGlobals fg;
    TLoginForm f(fp.services, fg);
    fp.files.AddFile("C:\\work\\params.txt", c.content);
    f.Create(fp.toolkit);
    EXPECT_EQ(fg.StartupPause, c.startup) << c.content;
    EXPECT_EQ(fg.SendKeysPause, c.sendKeys) << c.content;
    EXPECT_EQ(fg.HideLoginForm, c.hide) << c.content;
    EXPECT_TRUE(fp.ui.messages.empty()) << c.content;
  }
}

TEST_F(StartupTest, BrokenParamsFileShowsItsErrorAndSkipsTheCommandLine) {
  struct Case {
    const char* content;
    const char* inMessage;
  } cases[] = {
      {"", "no line 1"},
      {"100", "no line 2"},
      {"abc\n100", "'abc' is not a valid integer value"},
      {"100\n1.5", "'1.5' is not a valid integer value"},
      {"100\n100\nmaybe", "'maybe' is not a valid boolean value"},
      {"-1\n100", "must not be negative"},
      {"100\n-600", "must not be negative"},
  };
  for (const Case& c : cases) {
    fake::FakePlatform fp;
    launcher::LauncherGlobals fg;
    TLoginForm f(fp.services, fg);
    fp.files.AddFile("C:\\work\\params.txt", c.content);
    fp.system.arguments.push_back("-host");
    fp.system.arguments.push_back("gw1");
    f.Create(fp.toolkit);
    ASSERT_EQ(fp.ui.messages.size(), 1u) << c.content;
    EXPECT_EQ(fp.ui.messages[0].kind, plat::MessageKind::Error);
    EXPECT_TRUE(fp.ui.messages[0].withIcon);
    EXPECT_NE(fp.ui.messages[0].text.find(c.inMessage), std::string::npos)
        << fp.ui.messages[0].text;
    // The command line was not read, but no default credentials stay in the
    // boxes outside developer mode.
    EXPECT_EQ(fp.toolkit.view->Text(ControlId::edtHost), "") << c.content;
    EXPECT_EQ(fp.toolkit.view->Text(ControlId::edtUserName), "") << c.content;
    EXPECT_EQ(fp.toolkit.view->Text(ControlId::edtPassword), "") << c.content;
    EXPECT_FALSE(fp.toolkit.view->closed);
  }
}

TEST_F(StartupTest, BrokenParamsFileInDeveloperModeKeepsTheDefaults) {
  Developer();
  p.files.AddFile("C:\\work\\params.txt", "abc\n100");
  Start();
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_EQ(box(ControlId::edtHost), plat::kDefaultHost);
  EXPECT_EQ(box(ControlId::edtUserName), plat::kDefaultUserName);
  EXPECT_EQ(box(ControlId::edtPassword), plat::kDefaultPassword);
}

TEST_F(StartupTest, ParamsFileIsReadFromTheWorkingDirectoryOnly) {
  p.files.AddFile("C:\\Program Files\\Veltra\\params.txt", "0\n0\nfalse");
  Start();
  EXPECT_EQ(g.StartupPause, 1000);
  EXPECT_TRUE(g.HideLoginForm);
}

TEST_F(StartupTest, OperationalModesShowHideAndClear) {
  Developer();
  Start();
  view().Type(ControlId::edtUserName, "bob");
  view().Type(ControlId::edtPassword, "pw");

  view().SelectMode(1); // Auto-login clears nothing
  EXPECT_FALSE(view().Visible(ControlId::lblUserName));
  EXPECT_FALSE(view().Visible(ControlId::edtUserName));
  EXPECT_FALSE(view().Visible(ControlId::lblPassword));
  EXPECT_FALSE(view().Visible(ControlId::edtPassword));
  EXPECT_EQ(box(ControlId::edtUserName), "bob");
  EXPECT_EQ(box(ControlId::edtPassword), "pw");

  view().SelectMode(2); // Emergency access clears the code box only
  EXPECT_EQ(box(ControlId::lblUserName), "Emergency Code");
  EXPECT_TRUE(view().Visible(ControlId::lblUserName));
  EXPECT_TRUE(view().Visible(ControlId::edtUserName));
  EXPECT_FALSE(view().Visible(ControlId::edtPassword));
  EXPECT_EQ(box(ControlId::edtUserName), "");
  EXPECT_EQ(box(ControlId::edtPassword), "pw");

  view().Type(ControlId::edtUserName, "code");
  view().SelectMode(0); // None clears both
  EXPECT_EQ(box(ControlId::lblUserName), "User Name");
  for (ControlId id : {ControlId::lblUserName, ControlId::edtUserName, ControlId::lblPassword,
                       ControlId::edtPassword})
    EXPECT_TRUE(view().Visible(id));
  EXPECT_EQ(box(ControlId::edtUserName), "");
  EXPECT_EQ(box(ControlId::edtPassword), "");
}

TEST_F(StartupTest, HelpRequestIsSwallowed) {
  Start();
  EXPECT_TRUE(form.FormHelp());
  EXPECT_TRUE(p.ui.messages.empty());
}

TEST_F(StartupTest, SettingsFileChoosesPackageMode) {
  Start();
  EXPECT_TRUE(view().Visible(ControlId::btnImportPackage));
  EXPECT_FALSE(view().Visible(ControlId::lblPackageFolder));
  EXPECT_FALSE(view().Visible(ControlId::edtPackageFolder));
  EXPECT_FALSE(view().Visible(ControlId::btnBrowse));

  fake::FakePlatform fp;
  launcher::LauncherGlobals fg;
  TLoginForm f(fp.services, fg);
  fp.files.AddFile("C:\\ProgramData\\Veltra Dynamic Remote HMI\\ApplicationSettings.xml", "");
  f.Create(fp.toolkit);
  EXPECT_FALSE(fg.enableDownload);
  EXPECT_FALSE(fp.toolkit.view->Visible(ControlId::btnImportPackage));
  EXPECT_TRUE(fp.toolkit.view->Visible(ControlId::edtPackageFolder));
}

TEST_F(StartupTest, ProgramEntryCreatesShowsAndRunsTheLoop) {
  EXPECT_EQ(launcher::RunProgram(p.services, p.toolkit), 0);
  EXPECT_TRUE(p.toolkit.loopSawShownWindow);
  EXPECT_EQ(launcher::LoginForm, nullptr);
}

// --- the developer-mode log --------------------------------------------------

TEST_F(StartupTest, LogIsOffOutsideDeveloperModeAndTouchesNothing) {
  p.files.AddFile(logPath, "old\r\n");
  Start();
  form.Log().LogMessage("Duration=312 ticks");
  EXPECT_EQ(p.files.Contents(logPath), "old\r\n");
  for (const std::string& op : p.files.journal)
    EXPECT_EQ(op.find("Log.txt"), std::string::npos) << op;
}

TEST_F(StartupTest, DeveloperLogStartsAfreshAndAppendsLines) {
  Developer();
  p.files.AddFile(logPath, "from an earlier run\r\n");
  Start();
  EXPECT_FALSE(p.files.FileExists(logPath));
  form.Log().LogMessage("Duration=312 ticks");
  form.Log().LogMessage("Duration=40 ticks");
  EXPECT_EQ(p.files.Contents(logPath), "Duration=312 ticks\r\nDuration=40 ticks\r\n");
  EXPECT_EQ(form.Log().GetLogFileName(), logPath);
}

TEST_F(StartupTest, LogRewritesForeignLineEndings) {
  Developer();
  Start();
  p.files.AddFile(logPath, "a\nb");
  form.Log().LogMessage("c");
  EXPECT_EQ(p.files.Contents(logPath), "a\r\nb\r\nc\r\n");
}

TEST_F(StartupTest, UndeletableLogIsAStartupError) {
  Developer();
  p.files.AddFile(logPath, "x");
  p.files.undeletable.insert(logPath);
  p.files.AddFile("C:\\work\\params.txt", "0\n0\n");
  Start();
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_NE(errors()[0].find("Log.txt"), std::string::npos);
  EXPECT_EQ(g.StartupPause, 1000); // params.txt was not read
}

// An installed copy run by a standard user cannot write beside itself: the
// developer files go to the user's own folder for the program, and the log
// says so first.
TEST_F(StartupTest, DeveloperFilesGoToTheUsersFolderWhenTheProgramsFolderIsReadOnly) {
  Developer();
  p.files.CreateDirectories("C:\\Program Files\\Veltra");
  p.files.unwritable.insert("C:\\Program Files\\Veltra");
  Start();
  EXPECT_TRUE(errors().empty());
  form.Log().LogMessage("Duration=312 ticks");
  const std::string moved = "C:\\Users\\op\\AppData\\Local\\Veltra Dynamic Remote HMI\\";
  EXPECT_EQ(form.Log().GetLogFileName(), moved + "Log.txt");
  EXPECT_EQ(form.Log().DeveloperFolder(), moved);
  EXPECT_EQ(p.files.Contents(moved + "Log.txt"),
            "Developer files are written to " + moved +
                ": the program's folder C:\\Program Files\\Veltra\\ cannot be written.\r\n"
                "Duration=312 ticks\r\n");
  EXPECT_FALSE(p.files.FileExists(logPath));
}

TEST_F(StartupTest, UnwritableLogRaisesToTheCaller) {
  Developer();
  Start();
  p.files.unwritable.insert(logPath);
  EXPECT_THROW(form.Log().LogMessage("x"), plat::PlatformError);
}

} // namespace
