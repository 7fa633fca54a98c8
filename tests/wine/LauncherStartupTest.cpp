// The launcher's start-up as an operator sees it: the real program under the
// real window system, driven from another process.
#include "tests/wine/LauncherHarness.h"

#include "platform/FormLayout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using plat::ControlId;
using testing::HasSubstr;
using winetest::Launcher;
using winetest::LaunchOptions;
using winetest::TempFolder;
using winetest::WaitUntil;

constexpr int kModeNone = 0;
constexpr int kModeAutoLogin = 1;
constexpr int kModeEmergencyAccess = 2;

// --- The window itself ---

TEST(LauncherWindow, CaptionCarriesTheFileVersion) {
  Launcher launcher;
  launcher.WaitUntilShown();
  EXPECT_EQ(launcher.Caption(), "Veltra Substation Gateway - Dynamic Remote HMI v1.0.0.1");
}

TEST(LauncherWindow, ClosingTheWindowEndsTheProcessWithCodeZero) {
  Launcher launcher;
  launcher.WaitUntilShown();
  EXPECT_EQ(launcher.Close(), 0u);
}

// --- Boxes after start-up: developer mode and the command line ---

struct StartupCase {
  const char* name;
  std::vector<std::wstring> args;
  std::optional<std::wstring> kloxDataDir;
  std::string host;
  std::string userName;
};

void PrintTo(const StartupCase& c, std::ostream* os) {
  *os << c.name;
}

class StartupBoxes : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupBoxes, ShowTheExpectedContents) {
  const StartupCase& c = GetParam();
  Launcher launcher({.args = c.args, .kloxDataDir = c.kloxDataDir});
  launcher.WaitUntilShown();

  EXPECT_EQ(launcher.Text(ControlId::edtHost), c.host);
  EXPECT_EQ(launcher.Text(ControlId::edtUserName), c.userName);
  if (!c.kloxDataDir) {
    EXPECT_EQ(launcher.Text(ControlId::edtPassword), "");
  }
  EXPECT_EQ(launcher.CheckedMode(), kModeNone);
  EXPECT_TRUE(launcher.Visible(ControlId::edtUserName));
  EXPECT_TRUE(launcher.Visible(ControlId::edtPassword));
  EXPECT_EQ(launcher.FindMessageBox(), nullptr);
}

const std::wstring kDevValue = L"1";

INSTANTIATE_TEST_SUITE_P(
    Launcher, StartupBoxes,
    testing::Values(
        StartupCase{"NoArguments", {}, std::nullopt, "", ""},
        StartupCase{
            "HostAndPort", {L"-host", L"gw1", L"-port", L"8443"}, std::nullopt, "gw1:8443", ""},
        StartupCase{"HostWithItsOwnPortKeepsIt",
                    {L"-host", L"gw1:9443", L"-port", L"8443"},
                    std::nullopt,
                    "gw1:9443",
                    ""},
        // The port is added after the whole command line has been read.
        StartupCase{
            "PortBeforeHost", {L"-port", L"8443", L"-host", L"gw1"}, std::nullopt, "gw1:8443", ""},
        StartupCase{"PortThatIsNoNumberIsIgnored",
                    {L"-host", L"gw1", L"-port", L"http"},
                    std::nullopt,
                    "gw1",
                    ""},
        StartupCase{"OptionWithoutValueIsIgnored", {L"-host"}, std::nullopt, "", ""},
        StartupCase{
            "UserNameWithBlank", {L"-username", L"John Smith"}, std::nullopt, "", "John Smith"},
        StartupCase{
            "UserNameWithQuotes", {L"-username", L"say \"hi\""}, std::nullopt, "", "say \"hi\""},
        StartupCase{"DeveloperModeKeepsDefaults",
                    {},
                    kDevValue,
                    plat::kDefaultHost,
                    plat::kDefaultUserName},
        StartupCase{"DeveloperModeAddsPortToDefaultHost",
                    {L"-port", L"8443"},
                    kDevValue,
                    std::string(plat::kDefaultHost) + ":8443",
                    plat::kDefaultUserName}),
    [](const testing::TestParamInfo<StartupCase>& info) { return info.param.name; });

// --- Auto-login from the command line ---
//
// The launcher presses Launch by itself soon after it shows; what Launch then
// does is not part of these tests, so they wait for the selection rather than
// for the window to be shown.

struct AutoLoginCase {
  const char* name;
  std::vector<std::wstring> args;
  std::string userName;
};

void PrintTo(const AutoLoginCase& c, std::ostream* os) {
  *os << c.name;
}

class AutoLogin : public testing::TestWithParam<AutoLoginCase> {};

TEST_P(AutoLogin, SelectsAutoLoginAndHidesTheCredentials) {
  const AutoLoginCase& c = GetParam();
  Launcher launcher({.args = c.args});
  launcher.Window();

  auto settled = [&] {
    try {
      return launcher.CheckedMode() == kModeAutoLogin &&
             !launcher.Visible(ControlId::edtUserName) && !launcher.Visible(ControlId::edtPassword);
    } catch (const winetest::HarnessError&) {
      return false; // controls still being created
    }
  };
  ASSERT_TRUE(WaitUntil(settled)) << "checked mode " << launcher.CheckedMode();
  EXPECT_EQ(launcher.Text(ControlId::edtUserName), c.userName);
}

INSTANTIATE_TEST_SUITE_P(Launcher, AutoLogin,
                         testing::Values(AutoLoginCase{"Alone", {L"-autologin"}, ""},
                                         // An option's value is taken even when it looks like an
                                         // option, and is read as an option of its own as well.
                                         AutoLoginCase{"AsValueOfUserName",
                                                       {L"-username", L"-autologin"},
                                                       "-autologin"}),
                         [](const testing::TestParamInfo<AutoLoginCase>& info) {
                           return info.param.name;
                         });

// --- params.txt in the working directory ---

struct BadParamsCase {
  const char* name;
  std::string content;
  std::string mentioned; // the error text must name the bad value or line
};

void PrintTo(const BadParamsCase& c, std::ostream* os) {
  *os << c.name;
}

class BadParams : public testing::TestWithParam<BadParamsCase> {};

TEST_P(BadParams, ShowTheErrorSkipTheCommandLineAndLeaveNoDefaults) {
  const BadParamsCase& c = GetParam();
  TempFolder work;
  work.WriteFile("params.txt", c.content);
  Launcher launcher({.args = {L"-host", L"gw1", L"-port", L"8443"},
                     .kloxDataDir = std::nullopt,
                     .workingDirectory = work.Path()});

  // The box comes before the window is shown; a shown window without one
  // means start-up went through.
  HWND box = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (box = launcher.FindMessageBox()) || launcher.WindowVisible(); }));
  ASSERT_NE(box, nullptr) << "the window was shown without an error box";
  EXPECT_EQ(Launcher::MessageBoxCaption(box), "Veltra Dynamic Remote HMI");
  EXPECT_THAT(Launcher::MessageBoxText(box), HasSubstr(c.mentioned));
  launcher.PressOk(box);

  // The window stays open without the command line applied, and outside
  // developer mode no default credentials are left in the boxes.
  launcher.WaitUntilShown();
  EXPECT_TRUE(launcher.Running());
  EXPECT_EQ(launcher.Text(ControlId::edtHost), "");
  EXPECT_EQ(launcher.Text(ControlId::edtUserName), "");
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, BadParams,
    testing::Values(BadParamsCase{"Empty", "", "line 1"},
                    BadParamsCase{"OneLineOnly", "1000\r\n", "line 2"},
                    BadParamsCase{"PauseNotANumber", "abc\r\n600\r\n", "abc"},
                    BadParamsCase{"HideFlagNotABoolean", "1000\r\n600\r\nmaybe\r\n", "maybe"},
                    BadParamsCase{"NegativePause", "1000\r\n-5\r\n", "-5"}),
    [](const testing::TestParamInfo<BadParamsCase>& info) { return info.param.name; });

struct GoodParamsCase {
  const char* name;
  std::string content;
};

void PrintTo(const GoodParamsCase& c, std::ostream* os) {
  *os << c.name;
}

class GoodParams : public testing::TestWithParam<GoodParamsCase> {};

TEST_P(GoodParams, StartWithoutComplaint) {
  TempFolder work;
  work.WriteFile("params.txt", GetParam().content);
  Launcher launcher({.args = {L"-host", L"gw1"}, .workingDirectory = work.Path()});

  // A box during start-up would come before the window is shown.
  launcher.WaitUntilShown();
  EXPECT_EQ(launcher.FindMessageBox(), nullptr);
  EXPECT_EQ(launcher.Text(ControlId::edtHost), "gw1");
  EXPECT_EQ(launcher.Text(ControlId::edtUserName), "");
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, GoodParams,
    testing::Values(GoodParamsCase{"TwoLines", "250\r\n100\r\n"},
                    GoodParamsCase{"WithHideFlag", "250\r\n100\r\nFalse\r\n"},
                    GoodParamsCase{"BlanksAndBareLineFeeds", " 250 \n\t100\n 0 \n"}),
    [](const testing::TestParamInfo<GoodParamsCase>& info) { return info.param.name; });

TEST(LauncherParams, FileBesideTheExecutableIsNotRead) {
  TempFolder root;
  const std::filesystem::path exe = root.Path() / L"bin" / L"VeltraDynamicRemoteHMI.exe";
  std::filesystem::create_directories(exe.parent_path());
  std::filesystem::copy_file(winetest::LauncherExePath(), exe);
  root.WriteFile("bin/params.txt", "abc\r\n");
  std::filesystem::create_directories(root.Path() / L"work");

  Launcher launcher(
      {.args = {L"-host", L"gw1"}, .workingDirectory = root.Path() / L"work", .exe = exe});
  launcher.WaitUntilShown();
  EXPECT_EQ(launcher.FindMessageBox(), nullptr);
  EXPECT_EQ(launcher.Text(ControlId::edtHost), "gw1");
}

// --- Choosing an operational mode by hand ---

TEST(LauncherModes, EmergencyAccessAsksForTheCodeAloneAndNoneRestoresTheLogin) {
  Launcher launcher;
  launcher.WaitUntilShown();
  launcher.SetText(ControlId::edtUserName, "operator");

  launcher.ClickMode(kModeEmergencyAccess);
  ASSERT_TRUE(WaitUntil([&] {
    return launcher.CheckedMode() == kModeEmergencyAccess &&
           !launcher.Visible(ControlId::edtPassword);
  })) << "checked mode "
      << launcher.CheckedMode();
  EXPECT_EQ(launcher.Text(ControlId::lblUserName), "Emergency Code");
  EXPECT_EQ(launcher.Text(ControlId::edtUserName), "");
  EXPECT_TRUE(launcher.Visible(ControlId::edtUserName));
  EXPECT_FALSE(launcher.Visible(ControlId::lblPassword));

  launcher.ClickMode(kModeNone);
  ASSERT_TRUE(WaitUntil([&] {
    return launcher.CheckedMode() == kModeNone && launcher.Visible(ControlId::edtPassword);
  })) << "checked mode "
      << launcher.CheckedMode();
  EXPECT_EQ(launcher.Text(ControlId::lblUserName), "User Name");
  EXPECT_TRUE(launcher.Visible(ControlId::lblPassword));
}

} // namespace
