#include "common/Paths.h"
#include "hmi/HmiContract.h"
#include "hmi/ProcessUtils.h"
#include "platform/fake/FakePlatform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

// ---------------------------------------------------------------------------
// The login window's title

struct CaptionCase {
  bool includeHost;
  int32_t release;
  const char* hostText;
  const char* caption;
};

class LoginCaptions : public testing::TestWithParam<CaptionCase> {};

TEST_P(LoginCaptions, FromTheFlagTheReleaseAndTheHost) {
  const CaptionCase& c = GetParam();
  launch::LoginFormState state;
  state.deviceType = "KL7";
  state.includeHostInLoginCaption = c.includeHost;
  state.releaseVersionAsInt = c.release;
  EXPECT_EQ(hmi::GetLoginFormCaption(state, c.hostText), c.caption);
}

INSTANTIATE_TEST_SUITE_P(Table, LoginCaptions,
                         testing::Values(CaptionCase{false, 299, "gw1:51443", "Login"},
                                         CaptionCase{false, 410, "gw1", "Login"},
                                         CaptionCase{true, 299, "gw1:51443", "KL7 (gw1)"},
                                         CaptionCase{true, 300, "gw1:51443", "Login (gw1)"},
                                         CaptionCase{true, 410, "10.0.0.5", "Login (10.0.0.5)"},
                                         CaptionCase{true, 300, "", "Login ()"}));

// ---------------------------------------------------------------------------
// The HMI's command line

constexpr const char* kJre = "C:\\ProgramData\\Veltra Dynamic Remote HMI\\JRECache\\v1.8";
constexpr const char* kLib = "C:\\ProgramData\\Veltra Dynamic Remote HMI\\LIBCache\\v4.10";

std::string Expected(const std::string& tail) {
  return std::string(kJre) +
         "\\bin\\javaw.exe --add-opens java.prefs/java.util.prefs=ALL-UNNAMED -Xms256m "
         "-Xmx1024m -classpath \"" +
         kLib + "\\*\" com.norwickpower.hx.launcher.Launcher -host " + tail;
}

struct CommandCase {
  const char* name;
  const char* hostText;
  int32_t release;
  int mode;
  const char* tail; // after "-host "
};

class JavaCommandLines : public testing::TestWithParam<CommandCase> {};

TEST_P(JavaCommandLines, OptionsByReleaseAndMode) {
  const CommandCase& c = GetParam();
  hmi::JavaCommand command =
      hmi::JavaCommandLine(kJre, kLib, c.hostText, c.release, c.mode, "s3ss10n");
  EXPECT_EQ(command.javawPath + " " + command.arguments, Expected(c.tail));
  EXPECT_EQ(command.workingDirectory, kJre);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JavaCommandLines,
    testing::Values(
        CommandCase{"Release299NoPortEvenWhenTyped", "gw1:51443", 299, launch::modeNone, "gw1"},
        CommandCase{"Release300DefaultPort", "gw1", 300, launch::modeNone, "gw1 -port 443"},
        CommandCase{"Release300TypedPort", "gw1:51443", 300, launch::modeAutoLogin,
                    "gw1 -port 51443"},
        CommandCase{"Emergency409NoSession", "gw1", 409, launch::modeEmergencyAccess,
                    "gw1 -port 443"},
        CommandCase{"Emergency410SessionAfterPort", "gw1:51443", 410, launch::modeEmergencyAccess,
                    "gw1 -port 51443 -auth R930::AuthCookieHandler_R930HMI=s3ss10n"},
        CommandCase{"None410NoSession", "gw1", 410, launch::modeNone, "gw1 -port 443"},
        CommandCase{"AutoLogin500NoSession", "gw1", 500, launch::modeAutoLogin, "gw1 -port 443"},
        CommandCase{"Emergency299NoPortNoSession", "gw1", 299, launch::modeEmergencyAccess, "gw1"}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST(JavaCommandLine, FoldersEndingInASeparatorGetNoSecondOne) {
  hmi::JavaCommand command =
      hmi::JavaCommandLine("D:\\jre\\", "D:\\lib/", "gw1", 299, launch::modeNone, "");
  EXPECT_EQ(command.javawPath, "D:\\jre\\bin\\javaw.exe");
  EXPECT_THAT(command.arguments, testing::HasSubstr("-classpath \"D:\\lib/*\" "));
}

TEST(JavaCommandLine, PortIsReadOnlyWhenItGoesOnTheLine) {
  EXPECT_NO_THROW(hmi::JavaCommandLine(kJre, kLib, "gw1:https", 299, launch::modeNone, ""));
  EXPECT_THROW(hmi::JavaCommandLine(kJre, kLib, "gw1:https", 300, launch::modeNone, ""),
               std::runtime_error);
}

TEST(JavaCommandLine, FolderWithCharactersNotAllowedInPathsIsRefused) {
  EXPECT_THROW(hmi::JavaCommandLine("C:\\a\"b", kLib, "gw1", 300, launch::modeNone, ""),
               paths::InvalidPathError);
}

// ---------------------------------------------------------------------------
// Where the first window of a started program goes

struct StartupCase {
  int32_t width, height;
  int32_t x, y;
};

class StartupPositions : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupPositions, CentredAt800x600) {
  const StartupCase& c = GetParam();
  plat::WindowPlacement placement = hmi::CenteredPlacement({c.width, c.height});
  EXPECT_EQ(placement.width, 800);
  EXPECT_EQ(placement.height, 600);
  EXPECT_EQ(placement.x, c.x);
  EXPECT_EQ(placement.y, c.y);
}

INSTANTIATE_TEST_SUITE_P(Table, StartupPositions,
                         testing::Values(StartupCase{1920, 1080, 560, 240},
                                         StartupCase{3840 + 1920, 1200, 2480, 300},
                                         StartupCase{800, 600, 0, 0}, StartupCase{801, 601, 0, 0},
                                         // Halves truncated toward zero: -1 / 2 is 0, not -1.
                                         StartupCase{799, 599, 0, 0},
                                         // A screen smaller than the window: left of and above it.
                                         StartupCase{640, 480, -80, -60},
                                         StartupCase{0, 0, -400, -300}));

// ---------------------------------------------------------------------------
// ExecApplication and RunJavaApp on the fake processes

class ExecApplicationTest : public ::testing::Test {
protected:
  fake::FakePlatform p;
  hmi::HmiServices s = hmi::HmiServices::From(p.services);
};

TEST_F(ExecApplicationTest, StartReturnsTheProcessOnTheCentredPlacement) {
  p.files.AddFile("C:\\tools\\app.exe", "");
  p.processes.screen = {640, 480};
  const std::optional<uint32_t> process =
      hmi::ExecApplication(s, "C:\\tools\\app.exe", "-x 1", "C:\\tools", 250);

  ASSERT_EQ(p.processes.starts.size(), 1u);
  const fake::ProcessStart& start = p.processes.starts[0];
  EXPECT_TRUE(start.started);
  EXPECT_EQ(start.commandLine, "C:\\tools\\app.exe -x 1");
  EXPECT_EQ(start.currentDirectory, "C:\\tools");
  EXPECT_EQ(start.placement.x, -80);
  EXPECT_EQ(start.placement.y, -60);

  ASSERT_TRUE(process);
  EXPECT_THAT(p.system.sleeps, ElementsAre(250u));
  EXPECT_EQ(p.processes.GetExitCodeProcess(*process), plat::kStillActive);
}

TEST_F(ExecApplicationTest, EmptyAppNameStartsNothing) {
  EXPECT_FALSE(hmi::ExecApplication(s, "", "-host gw1", "C:\\tools", 0));
  EXPECT_THAT(p.processes.starts, IsEmpty());
  EXPECT_THAT(p.system.sleeps, IsEmpty());
}

TEST_F(ExecApplicationTest, FailedStartIsSilent) {
  EXPECT_FALSE(hmi::ExecApplication(s, "C:\\missing\\app.exe", "", "C:\\tools", 500));
  ASSERT_EQ(p.processes.starts.size(), 1u);
  EXPECT_FALSE(p.processes.starts[0].started);
  EXPECT_THAT(p.system.sleeps, IsEmpty());
}

class RunJavaAppTest : public ExecApplicationTest {
protected:
  hmi::JavaCommand Command(const std::string& host, int mode) {
    return hmi::JavaCommandLine("C:\\Program Files\\Veltra HMI\\jre",
                                "C:\\Program Files\\Veltra HMI\\lib", host, 410, mode, "t0k");
  }
};

TEST_F(RunJavaAppTest, StartsJavawFromTheJreImageInItsFolder) {
  p.files.AddFile("C:\\Program Files\\Veltra HMI\\jre\\bin\\javaw.exe", "");
  const std::optional<uint32_t> process =
      hmi::RunJavaApp(s, Command("gw1:51443", launch::modeEmergencyAccess));

  ASSERT_EQ(p.processes.starts.size(), 1u);
  const fake::ProcessStart& start = p.processes.starts[0];
  EXPECT_EQ(start.commandLine,
            "C:\\Program Files\\Veltra HMI\\jre\\bin\\javaw.exe --add-opens "
            "java.prefs/java.util.prefs=ALL-UNNAMED -Xms256m -Xmx1024m -classpath "
            "\"C:\\Program Files\\Veltra HMI\\lib\\*\" com.norwickpower.hx.launcher.Launcher "
            "-host gw1 -port 51443 -auth R930::AuthCookieHandler_R930HMI=t0k");
  EXPECT_EQ(start.currentDirectory, "C:\\Program Files\\Veltra HMI\\jre");
  EXPECT_EQ(start.program, "C:\\Program Files\\Veltra HMI\\jre\\bin\\javaw.exe");
  EXPECT_EQ(start.placement.x, 560);
  EXPECT_EQ(start.placement.y, 240);
  EXPECT_TRUE(process);
  EXPECT_THAT(p.system.sleeps, ElementsAre(0u));
}

TEST_F(RunJavaAppTest, UnquotedFolderWithBlanksCanStartAShorterNamesake) {
  // The program path is not quoted: like the system, the start takes the
  // first blank-separated prefix that names a program.
  p.files.AddFile("C:\\Program Files\\Veltra HMI\\jre\\bin\\javaw.exe", "");
  p.files.AddFile("C:\\Program Files\\Veltra.exe", "");
  hmi::RunJavaApp(s, Command("gw1", launch::modeNone));
  ASSERT_EQ(p.processes.starts.size(), 1u);
  EXPECT_EQ(p.processes.starts[0].program, "C:\\Program Files\\Veltra.exe");
}

TEST_F(RunJavaAppTest, MissingJavawStartsNothing) {
  EXPECT_FALSE(hmi::RunJavaApp(s, Command("gw1", launch::modeNone)));
  ASSERT_EQ(p.processes.starts.size(), 1u);
  EXPECT_FALSE(p.processes.starts[0].started);
}

} // namespace
