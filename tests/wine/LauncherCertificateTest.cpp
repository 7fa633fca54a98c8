// Device certificates remembered, as an operator meets them: the real
// launcher over real HTTPS to the device simulator, which switches to a
// second certificate as a replaced device, or a host answering in its place,
// would. The operator answers the launcher's question box; the tests read
// what the device received and this user's record of certificates.
#include "common/Text.h"
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

using plat::ControlId;
using testing::ElementsAre;
using testing::HasSubstr;
using winetest::CleanAppFolder;
using winetest::CountOf;
using winetest::DeviceSimulator;
using winetest::DeviceSimulatorOptions;
using winetest::Launcher;
using winetest::Paths;
using winetest::WaitUntil;

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "Adm1n-pw"; // the simulator's default account
constexpr const char* kCaption = "Veltra Dynamic Remote HMI";

DeviceSimulatorOptions ServingGoodImages() {
  DeviceSimulatorOptions options;
  options.filesDir = winetest::WindowsPath(std::string(VELTRA_LAUNCHER_TESTDATA) + "/device/good");
  return options;
}

std::string Address(const DeviceSimulator& device) {
  return "127.0.0.1:" + std::to_string(device.Port());
}

// The SHA-256 of the certificate the simulator presents now.
std::string PresentedPrint(DeviceSimulator& device) {
  const std::string body = device.Control("GET", "/cert/sha256").body;
  const std::string key = "\"sha256\": \"";
  const size_t at = body.find(key);
  if (at == std::string::npos)
    throw winetest::HarnessError("no fingerprint in " + body);
  return body.substr(at + key.size(), 95);
}

void UseSecondCertificate(DeviceSimulator& device) {
  ASSERT_EQ(device.Control("POST", "/cert", R"({"use": "second"})").status, 200);
}

void TypeAndLaunch(Launcher& launcher, const std::string& host) {
  launcher.SetText(ControlId::edtHost, host);
  launcher.SetText(ControlId::edtUserName, kUser);
  launcher.SetText(ControlId::edtPassword, kPassword);
  launcher.Click(ControlId::btnLaunch);
}

// A launch that went through: logged out at the end, no box, and the
// launcher closes by itself (these images hold no HMI that runs).
void ExpectLaunchSucceeded(Launcher& launcher, DeviceSimulator& device, int since) {
  ASSERT_TRUE(WaitUntil([&] { return CountOf(device.Requests(since), "/LOGOUT") > 0; }))
      << testing::PrintToString(Paths(device.Requests(since)));
  launcher.WaitUntilIdle();
  HWND box = launcher.FindMessageBox();
  ASSERT_EQ(box, nullptr) << "box: " << Launcher::MessageBoxText(box);
  EXPECT_TRUE(launcher.WaitForExit(std::chrono::seconds(30)));
}

class LauncherCertificate : public testing::Test {
protected:
  std::string Record() const {
    std::ifstream in(app_.UserPath() / L"KnownDevices.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteRecord(const std::string& text) const {
    fs::create_directories(app_.UserPath());
    std::ofstream(app_.UserPath() / L"KnownDevices.txt", std::ios::binary) << text;
  }
  // The question box of a changed certificate: checked, then answered.
  void Answer(Launcher& launcher, int button, const std::string& address,
              const std::string& onRecord, const std::string& presented) {
    HWND box = launcher.WaitForMessageBox();
    launcher.WaitUntilIdle();
    EXPECT_EQ(Launcher::MessageBoxCaption(box), kCaption);
    const std::string text = Launcher::MessageBoxText(box);
    EXPECT_THAT(text, HasSubstr("The device at " + address + " presents a different certificate"));
    EXPECT_THAT(text, HasSubstr("On record (SHA-256): " + onRecord));
    EXPECT_THAT(text, HasSubstr("Presented (SHA-256): " + presented));
    EXPECT_THAT(text, HasSubstr("Log in anyway?"));
    Launcher::ClickDialogButton(box, button);
    launcher.WaitUntilGone(box);
  }

  CleanAppFolder app_;
};

// The first launch records the certificate; after the device's certificate
// changed, a No sends nothing more (no login, no logout: there is no
// session), shows nothing more, and the window stays for another try.
TEST_F(LauncherCertificate, ChangedCertificateAnsweredNoReachesNoLoginAndTheWindowStays) {
  DeviceSimulator device(ServingGoodImages());
  const std::string first = PresentedPrint(device);
  {
    Launcher launcher;
    launcher.WaitUntilShown();
    TypeAndLaunch(launcher, Address(device));
    ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
  }
  const std::string recorded = Address(device) + " " + first + "\r\n";
  EXPECT_EQ(Record(), recorded);

  ASSERT_NO_FATAL_FAILURE(UseSecondCertificate(device));
  const std::string second = PresentedPrint(device);
  ASSERT_NE(second, first);
  const int since = static_cast<int>(device.Requests().size());
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, Address(device));
  ASSERT_NO_FATAL_FAILURE(Answer(launcher, IDNO, Address(device), first, second));

  ASSERT_TRUE(WaitUntil([&] { return launcher.Enabled(ControlId::btnLaunch); }))
      << "Launch stays greyed out";
  launcher.WaitUntilIdle();
  HWND box = launcher.FindMessageBox();
  EXPECT_EQ(box, nullptr) << "box: " << Launcher::MessageBoxText(box);
  EXPECT_TRUE(launcher.WindowVisible());
  EXPECT_THAT(Paths(device.Requests(since)), ElementsAre("/info.cgi"));
  EXPECT_EQ(Record(), recorded);
}

// A Yes goes on with the launch and records the certificate now presented.
TEST_F(LauncherCertificate, ChangedCertificateAnsweredYesLaunchesAndRecordsTheNewOne) {
  DeviceSimulator device(ServingGoodImages());
  const std::string first = PresentedPrint(device);
  WriteRecord(Address(device) + " " + first + "\r\n");
  ASSERT_NO_FATAL_FAILURE(UseSecondCertificate(device));
  const std::string second = PresentedPrint(device);

  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, Address(device));
  ASSERT_NO_FATAL_FAILURE(Answer(launcher, IDYES, Address(device), first, second));
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
  EXPECT_EQ(CountOf(device.Requests(), "/LOGIN"), 1u);
  EXPECT_EQ(Record(), Address(device) + " " + second + "\r\n");
}

// The administrator's pins, read from the settings file by the system's XML
// reader: a device whose certificate is listed is logged in to without a
// question; one whose certificate is not is refused with a message before
// any credentials go out. (The settings file also means package mode; the
// empty package folder fails the launch later, which is not the point here.)
TEST_F(LauncherCertificate, PinnedCertificatesFromTheSettingsFile) {
  DeviceSimulator device(ServingGoodImages());
  const std::string print = PresentedPrint(device);
  const std::string other =
      "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:"
      "EE:FF";
  struct Case {
    const char* name;
    std::vector<std::string> pins;
    bool loginSent;
  } cases[] = {
      {"listed second, in lower case", {other, text::ToLowerAscii(print)}, true},
      {"not listed", {other}, false},
  };
  winetest::TempFolder packages;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string settings = "<Settings><PackageFolder baseURI=\"" + packages.Path().string() +
                           "\"/><CertificatePolicy mode=\"pinned\">";
    for (const std::string& pin : c.pins)
      settings += "<Pin sha256=\"" + pin + "\"/>";
    settings += "</CertificatePolicy></Settings>";
    fs::create_directories(app_.Path());
    std::ofstream(app_.Path() / L"ApplicationSettings.xml", std::ios::binary) << settings;
    device.Reset();

    Launcher launcher;
    launcher.WaitUntilShown();
    TypeAndLaunch(launcher, Address(device));
    HWND box = launcher.WaitForMessageBox();
    launcher.WaitUntilIdle();
    const std::string text = Launcher::MessageBoxText(box);
    if (c.loginSent) {
      EXPECT_EQ(CountOf(device.Requests(), "/LOGIN"), 1u) << text;
    } else {
      EXPECT_EQ(
          text,
          "The certificate of the device at " + Address(device) +
              " is not one of those allowed on this computer.\n\nPresented (SHA-256): " + print);
      EXPECT_THAT(Paths(device.Requests()), ElementsAre("/info.cgi"));
    }
    launcher.PressOk(box);
    EXPECT_EQ(Record(), "") << "nothing is recorded under pins";
  }
}

} // namespace
