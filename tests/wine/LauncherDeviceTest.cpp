// The device session as an operator drives it: the real launcher, its window
// under the real window system, and the device simulator over real HTTPS on
// loopback. The operator types an address and credentials and presses Launch;
// the tests read the error box, the host box, the files the launcher leaves in
// its machine-wide folder and what the device received.
#include "tests/wine/DeviceSimulator.h"
#include "tests/wine/LauncherHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>

namespace {

namespace fs = std::filesystem;

using plat::ControlId;
using testing::AllOf;
using testing::Contains;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::StartsWith;
using winetest::CleanAppFolder;
using winetest::CountOf;
using winetest::DeviceSimulator;
using winetest::DeviceSimulatorOptions;
using winetest::Launcher;
using winetest::Paths;
using winetest::RecordedRequest;
using winetest::TempFolder;
using winetest::WaitUntil;

constexpr const char* kUser = "admin";
constexpr const char* kPassword = "Adm1n-pw"; // the simulator's default account
constexpr const char* kSessionCookie = "R930::AuthCookieHandler_R930HMI";
constexpr const char* kCaption = "Veltra Dynamic Remote HMI";

constexpr const char* kUnableToConnect = "Unable to connect to a device at the specified address.";
constexpr const char* kBadCredentials = "The credentials provided are incorrect for this device.";
constexpr const char* kCannotStore = "This computer could not store the runtime images: ";

constexpr const char* kInfo = "/info.cgi";
constexpr const char* kLogin = "/LOGIN";
constexpr const char* kInfoExt = "/cgi-bin/infoExt.cgi";
constexpr const char* kReadFile = "/cgi-bin/ReadBinaryFile.cgi";
constexpr const char* kLogout = "/LOGOUT";

// Where the simulator's default device (Release 410, schema 7, the archive
// names jre_v_17.0.2.zip and lib_hmi_full_410_7_r.zip) puts its images.
const fs::path kJavaw = fs::path(L"JREImage") / L"v17.0.2.0" / L"bin" / L"javaw.exe";
const fs::path kConfigGui = fs::path(L"LIBImage") / L"v4.10" / L"v410_0007" / L"config-gui.jar";

// The whole of `arg` matches the ECMAScript expression `pattern`.
MATCHER_P(FullyMatches, pattern, std::string("matches ") + pattern) {
  return std::regex_match(arg, std::regex(pattern));
}

// `s` as a JSON string.
std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

// Made at build time by cmake/windows.d/launcher-e2e-testdata.cmake.
fs::path TestData(const std::string& relative) {
  return winetest::WindowsPath(std::string(VELTRA_LAUNCHER_TESTDATA) + "/" + relative);
}

// A device folder of the test data: jre\ and lib\ with the archives it serves.
DeviceSimulatorOptions Serving(const char* kind) {
  DeviceSimulatorOptions options;
  options.filesDir = TestData(std::string("device/") + kind);
  return options;
}

std::string HostWithPort(const DeviceSimulator& device) {
  return "127.0.0.1:" + std::to_string(device.Port());
}

// Fills in the boxes and presses Launch, as the operator would.
void TypeAndLaunch(Launcher& launcher, const std::string& host,
                   const std::string& password = kPassword) {
  launcher.SetText(ControlId::edtHost, host);
  launcher.SetText(ControlId::edtUserName, kUser);
  launcher.SetText(ControlId::edtPassword, password);
  launcher.Click(ControlId::btnLaunch);
}

// The text of the error box that the launch ends with; presses its OK.
std::string ErrorBoxText(Launcher& launcher,
                         std::chrono::milliseconds timeout = winetest::kDefaultDeadline) {
  HWND box = launcher.WaitForMessageBox(timeout);
  // After a long blocking call the window system takes the launcher as hung
  // until its thread has taken a message, and reading the box would fail.
  launcher.WaitUntilIdle();
  EXPECT_EQ(Launcher::MessageBoxCaption(box), kCaption);
  std::string text = Launcher::MessageBoxText(box);
  launcher.PressOk(box);
  return text;
}

// A launch whose verification and provisioning succeed: the logout is the
// session's last request and no box comes. The launch then goes on to the
// HMI; these archives carry no program that runs, the device is not trusted,
// and the launcher closes by itself.
void ExpectLaunchSucceeded(Launcher& launcher, DeviceSimulator& device, int since) {
  ASSERT_TRUE(WaitUntil([&] { return CountOf(device.Requests(since), kLogout) > 0; }))
      << "no logout; requests: " << testing::PrintToString(Paths(device.Requests(since)));
  launcher.WaitUntilIdle();
  HWND box = launcher.FindMessageBox();
  ASSERT_EQ(box, nullptr) << "box: " << Launcher::MessageBoxText(box);
  EXPECT_TRUE(launcher.WaitForExit(std::chrono::seconds(30)));
}

class LauncherDevice : public testing::Test {
protected:
  CleanAppFolder app_;
};

// --- What goes on the wire ---

TEST_F(LauncherDevice, LoginSendsTheFormAndTheSessionCookieComesBackOnEveryLaterRequest) {
  DeviceSimulator device(Serving("good"));
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));
  // The certificate is self-signed: no prompt may stop the launch.
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));

  std::vector<RecordedRequest> requests = device.Requests();
  ASSERT_THAT(Paths(requests), ElementsAre(kInfo, kLogin, kInfoExt, kReadFile, kReadFile, kLogout));
  const RecordedRequest& login = requests[1];
  EXPECT_EQ(login.method, "POST");
  EXPECT_THAT(login.HeaderValues("Content-Type"),
              ElementsAre("application/x-www-form-urlencoded; charset=utf-8"));
  EXPECT_THAT(login.body, FullyMatches("sessID=&credential_0=admin&credential_1=Adm1n-pw&"
                                       "credential_2=[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+&"
                                       "destination=%2F"));
  EXPECT_EQ(requests[5].method, "POST");

  EXPECT_THAT(requests[0].cookies, IsEmpty());
  EXPECT_THAT(requests[1].cookies, IsEmpty());
  const std::string session = requests[2].cookies[kSessionCookie];
  EXPECT_THAT(session, FullyMatches("[0-9a-f]{32}"));
  for (size_t i = 2; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].cookies[kSessionCookie], session) << requests[i].path;
    EXPECT_THAT(requests[i].HeaderValues("Cookie"), testing::SizeIs(1)) << requests[i].path;
  }
}

TEST_F(LauncherDevice, WithoutATypedPortTheSecondStandardPortIsTriedAndAppendedToTheHost) {
  DeviceSimulatorOptions options = Serving("good");
  options.fixedPorts = {443};
  std::optional<DeviceSimulator> device;
  try {
    device.emplace(options);
  } catch (const winetest::HarnessError& e) {
    GTEST_SKIP() << "no device on port 443 of loopback: " << e.what();
  }
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, "127.0.0.1");

  auto hostHasPort = [&] {
    try {
      return launcher.Text(ControlId::edtHost) == "127.0.0.1:443";
    } catch (const winetest::HarnessError&) {
      return false; // the window's thread is busy with the device
    }
  };
  ASSERT_TRUE(WaitUntil(hostHasPort)) << "host box: " << launcher.Text(ControlId::edtHost);
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, *device, 0));
  EXPECT_TRUE(fs::exists(app_.Path() / kJavaw));
}

// --- A device that refuses or does not qualify ---

struct RefusalCase {
  const char* name;
  std::string config; // merged into the simulator's configuration
  std::string password;
  std::string message;
  std::vector<std::string> requests; // everything the device receives
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherDeviceRefusal : public LauncherDevice,
                              public testing::WithParamInterface<RefusalCase> {};

TEST_P(LauncherDeviceRefusal, ShowsTheReasonAndEndsAnOpenedSession) {
  const RefusalCase& c = GetParam();
  DeviceSimulator device(Serving("good"));
  device.Configure(c.config);
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device), c.password);

  EXPECT_EQ(ErrorBoxText(launcher), c.message);
  EXPECT_THAT(Paths(device.Requests()), ElementsAreArray(c.requests));
  EXPECT_THAT(app_.Files(), IsEmpty());
  EXPECT_TRUE(launcher.Running());
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LauncherDeviceRefusal,
    testing::Values(
        RefusalCase{"WrongPassword", "{}", "not-the-password", kBadCredentials, {kInfo, kLogin}},
        // The redirect is an answer of its own, never a way to a login page.
        RefusalCase{"LoginRedirected",
                    R"({"login_status": 302, "login_location": "/after-login"})",
                    kPassword,
                    kBadCredentials,
                    {kInfo, kLogin}},
        RefusalCase{"ForeignModel",
                    R"({"infoext": {"hw_model": "X100"}})",
                    kPassword,
                    "The device at this host is not a Veltra device.",
                    {kInfo, kLogin, kInfoExt, kLogout}},
        RefusalCase{"HmiDisabled",
                    R"({"infoext": {"dynamic_hmi_enabled": "false"}})",
                    kPassword,
                    "Remote dynamic HMI functionality is not enabled on this device.",
                    {kInfo, kLogin, kInfoExt, kLogout}},
        // A flag that is neither true, false nor a number is a broken answer.
        RefusalCase{"HmiFlagNotABoolean",
                    R"({"infoext": {"dynamic_hmi_enabled": "yes"}})",
                    kPassword,
                    kUnableToConnect,
                    {kInfo, kLogin, kInfoExt, kLogout}}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

// --- A connection that breaks ---

struct BrokenCase {
  const char* name;
  std::string breakIt;
  std::string repair;
};

void PrintTo(const BrokenCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherDeviceBrokenConnection : public LauncherDevice,
                                       public testing::WithParamInterface<BrokenCase> {};

TEST_P(LauncherDeviceBrokenConnection, FailsTheLaunchAndTheNextLaunchWorks) {
  const BrokenCase& c = GetParam();
  DeviceSimulator device(Serving("good"));
  device.Configure(c.breakIt);
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));
  EXPECT_EQ(ErrorBoxText(launcher), kUnableToConnect);
  EXPECT_THAT(Paths(device.Requests()), ElementsAre(kInfo));

  device.Configure(c.repair);
  const int since = static_cast<int>(device.Requests().size());
  launcher.Click(ControlId::btnLaunch);
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, since));
  EXPECT_TRUE(fs::exists(app_.Path() / kJavaw));
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LauncherDeviceBrokenConnection,
    testing::Values(
        BrokenCase{"ResetInTheMiddleOfTheBody", R"({"reset_mid_body": {"/info.cgi": true}})",
                   R"({"reset_mid_body": null})"},
        BrokenCase{"NoHttpAnswer", R"({"garbage": {"/info.cgi": true}})", R"({"garbage": null})"},
        // An information answer far beyond any real one must not fill memory.
        BrokenCase{"HugeAnswer", R"({"huge_body": {"/info.cgi": 104857600}})",
                   R"({"huge_body": null})"}),
    [](const testing::TestParamInfo<BrokenCase>& info) { return info.param.name; });

// The launcher's receive time-out is a minute, so this test takes that long.
TEST_F(LauncherDevice, DeviceThatNeverAnswersIsGivenUpWithoutHelp) {
  DeviceSimulator device(Serving("good"));
  device.Configure(R"({"stall": {"/info.cgi": true}})");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));

  EXPECT_EQ(ErrorBoxText(launcher, std::chrono::minutes(3)), kUnableToConnect);
  EXPECT_THAT(Paths(device.Requests()), ElementsAre(kInfo));
}

// --- Download of the runtime images ---

TEST_F(LauncherDevice, DownloadInstallsBothImagesAndALaterLaunchReusesThem) {
  DeviceSimulator device(Serving("good"));
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));

  EXPECT_EQ(winetest::FileContents(app_.Path() / kJavaw),
            winetest::FileContents(TestData("trees/download/bin/javaw.exe")));
  EXPECT_EQ(winetest::FileContents(app_.Path() / kConfigGui),
            winetest::FileContents(TestData("trees/download/lib/config-gui.jar")));
  std::vector<RecordedRequest> requests = device.Requests();
  ASSERT_EQ(CountOf(requests, kReadFile), 2u);
  std::vector<std::string> bodies;
  for (const RecordedRequest& r : requests)
    if (r.path == kReadFile)
      bodies.push_back(r.body);
  EXPECT_THAT(bodies[0], HasSubstr("name=\"file\""));
  EXPECT_THAT(bodies[0], HasSubstr("/mnt/flash/hmi/jre/jre_v_17.0.2.zip"));
  EXPECT_THAT(bodies[1], HasSubstr("/mnt/flash/hmi/lib/lib_hmi_full_410_7_r.zip"));

  // A second launcher: the first has closed after its launch.
  const int since = static_cast<int>(requests.size());
  Launcher second;
  second.WaitUntilShown();
  TypeAndLaunch(second, HostWithPort(device));
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(second, device, since));
  EXPECT_THAT(Paths(device.Requests(since)), ElementsAre(kInfo, kLogin, kInfoExt, kLogout));
}

// A slow device: the window keeps answering while a file is being read, shows
// what it is doing, and a second press of Launch starts no second login.
TEST_F(LauncherDevice, WindowAnswersDuringASlowDownloadAndIgnoresASecondLaunch) {
  DeviceSimulator device(Serving("good"));
  device.Configure(R"({"delay_ms": {"/cgi-bin/ReadBinaryFile.cgi": 6000}})");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));
  ASSERT_TRUE(WaitUntil([&] { return CountOf(device.Requests(), kReadFile) > 0; }));

  // Reading a control needs the window's thread to answer.
  EXPECT_EQ(launcher.Text(ControlId::statusBar), "Retrieving JRE image...");
  launcher.Click(ControlId::btnLaunch);
  EXPECT_EQ(launcher.Text(ControlId::edtHost), HostWithPort(device));

  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
  EXPECT_EQ(CountOf(device.Requests(), kLogin), 1u);
  EXPECT_TRUE(fs::exists(app_.Path() / kJavaw));
}

// Once the device is verified every request goes to it: the operator edits
// the host box while the runtime archive comes over a slow line, and the HMI
// archive is still read, with the session cookie, from the verified device,
// never from the address typed meanwhile; the launch goes on with it.
TEST_F(LauncherDevice, AHostBoxEditedDuringTheDownloadSendsNothingElsewhere) {
  DeviceSimulator device(Serving("good"));
  DeviceSimulator elsewhere(Serving("good"));
  // The runtime archive (about 94 KiB) takes about six seconds.
  device.Configure(R"({"rate_bps": {"/cgi-bin/ReadBinaryFile.cgi": 16000}})");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));
  ASSERT_TRUE(WaitUntil([&] { return CountOf(device.Requests(), kReadFile) > 0; }));

  launcher.SetText(ControlId::edtHost, HostWithPort(elsewhere));
  ASSERT_EQ(CountOf(device.Requests(), kReadFile), 1u) << "the box was edited after the download";
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));

  std::vector<RecordedRequest> requests = device.Requests();
  EXPECT_THAT(Paths(requests), ElementsAre(kInfo, kLogin, kInfoExt, kReadFile, kReadFile, kLogout));
  const std::string session = requests[2].cookies[kSessionCookie];
  for (size_t i = 3; i < requests.size(); ++i)
    EXPECT_EQ(requests[i].cookies[kSessionCookie], session) << requests[i].path;
  EXPECT_THAT(Paths(elsewhere.Requests()), IsEmpty());
  EXPECT_EQ(winetest::FileContents(app_.Path() / kConfigGui),
            winetest::FileContents(TestData("trees/download/lib/config-gui.jar")));
}

// A download over a slow line shows how far it has come beside the status
// text, which stays as it is, and the figures move on while it runs.
TEST_F(LauncherDevice, ASlowDownloadShowsItsProgressBesideTheStatusText) {
  DeviceSimulator device(Serving("good"));
  // The runtime archive (about 94 KiB) takes about four seconds.
  device.Configure(R"({"rate_bps": {"/cgi-bin/ReadBinaryFile.cgi": 24000}})");
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));

  std::vector<std::string> seen;
  ASSERT_TRUE(WaitUntil([&] {
    std::string status = launcher.StatusPart(0);
    std::string progress = launcher.StatusPart(1);
    if (status == "Retrieving JRE image..." && !progress.empty() &&
        (seen.empty() || seen.back() != progress))
      seen.push_back(progress);
    return seen.size() >= 3;
  })) << "progress seen: "
      << testing::PrintToString(seen);
  for (const std::string& text : seen)
    EXPECT_THAT(text, FullyMatches(R"(\d+\.\d of 0\.1 MB \(\d+%\)(, \d+\.\d MB/s)?)"));

  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
  EXPECT_TRUE(fs::exists(app_.Path() / kJavaw));
}

struct DownloadFailureCase {
  const char* name;
  const char* files; // the device folder of the test data
  std::string config;
  testing::Matcher<std::string> message;
  bool archiveKept; // whether the JRE archive stays in JRECache
  bool loggedOut;
  // Done to the machine-wide folder before the launcher starts.
  std::function<void(const fs::path& appFolder)> prepare = {};
};

void PrintTo(const DownloadFailureCase& c, std::ostream* os) {
  *os << c.name;
}

class LauncherDeviceDownloadFailure : public LauncherDevice,
                                      public testing::WithParamInterface<DownloadFailureCase> {};

TEST_P(LauncherDeviceDownloadFailure, ShowsTheReasonAndInstallsNoImage) {
  const DownloadFailureCase& c = GetParam();
  DeviceSimulator device(Serving(c.files));
  device.Configure(c.config);
  if (c.prepare)
    c.prepare(app_.Path());
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));

  EXPECT_THAT(ErrorBoxText(launcher), c.message);
  EXPECT_FALSE(fs::exists(app_.Path() / kJavaw));
  EXPECT_FALSE(fs::exists(app_.Path() / kConfigGui));
  std::vector<fs::path> cached;
  for (const fs::path& file : app_.Files())
    if (*file.begin() == L"JRECache" && file.has_parent_path())
      cached.push_back(file);
  if (c.archiveKept)
    EXPECT_THAT(cached, ElementsAre(fs::path(L"JRECache") / L"jre_v_17.0.2.zip"));
  else
    EXPECT_THAT(cached, IsEmpty());
  EXPECT_EQ(CountOf(device.Requests(), kLogout), c.loggedOut ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Launcher, LauncherDeviceDownloadFailure,
    testing::Values(
        DownloadFailureCase{"JreArchiveMissing", "good",
                            R"({"file_status": {"/mnt/flash/hmi/jre/jre_v_17.0.2.zip": 404}})",
                            "Unable to download JRE archive.", false, true},
        // The partial file does not survive a body cut short; the session
        // does not either: the device answered the read, so it is still
        // there to be logged out.
        DownloadFailureCase{"JreArchiveCutShort", "good",
                            R"({"reset_mid_body": {"/cgi-bin/ReadBinaryFile.cgi": true}})",
                            "Unable to download JRE archive.", false, true},
        DownloadFailureCase{"JreWithoutJavaw", "nojavaw", "{}",
                            "Unable to process JRE image for remote HMI.", true, true},
        // The archive arrived whole but is damaged: an error, not an image,
        // and it leaves the cache so that the next launch fetches it afresh.
        DownloadFailureCase{"JreArchiveTruncated", "truncated", "{}", kUnableToConnect, false,
                            true},
        // The archive cannot be stored on this machine: the device is not to
        // blame, the operator reads why, and the session is ended as after
        // any other failure.
        DownloadFailureCase{"JreCacheIsAFile", "good", "{}",
                            StartsWith(std::string(kCannotStore) + "The file " +
                                       "C:\\ProgramData\\Veltra Dynamic Remote "
                                       "HMI\\JRECache\\jre_v_17.0.2.zip cannot be written here: "),
                            false, true,
                            [](const fs::path& appFolder) {
                              fs::create_directories(appFolder);
                              std::ofstream(appFolder / L"JRECache") << "not a folder";
                            }},
        // A name that cannot become a file name here is not a connection
        // fault: said as such, and nothing is read.
        DownloadFailureCase{"JreArchiveNameRefused", "good",
                            R"({"infoext": {"hmi_jre": "CON.zip"}})",
                            std::string(kCannotStore) +
                                "The device offered an archive name that cannot be used: CON.zip",
                            false, true},
        DownloadFailureCase{"JreArchiveNameTooLong", "good",
                            R"({"infoext": {"hmi_jre": "jre_v_17.0.2)" + std::string(300, '0') +
                                R"(.zip"}})",
                            AllOf(StartsWith(std::string(kCannotStore) + "The file "),
                                  HasSubstr(" cannot be written here: ")),
                            false, true}),
    [](const testing::TestParamInfo<DownloadFailureCase>& info) { return info.param.name; });

// An archive whose items state more than any image may take is refused by
// this computer before anything is written. With no port typed, the launcher
// tries the first standard port and, because the failure is this computer's,
// not the second: the operator reads why, and the device gets nothing more
// after the logout. The archive stays cached; it may well be good.
TEST_F(LauncherDevice, NoRoomForTheImagesIsSaidSoAndTriesNoOtherPort) {
  // The device on both standard ports where 443 can be had (it needs root),
  // else on the first alone; another test may hold them for a while.
  std::optional<DeviceSimulator> device;
  auto onStandardPorts = [&](std::vector<int> ports) {
    DeviceSimulatorOptions options = Serving("roomless");
    options.fixedPorts = std::move(ports);
    try {
      device.emplace(options);
      return true;
    } catch (const winetest::HarnessError&) {
      return false;
    }
  };
  ASSERT_TRUE(WaitUntil(
      [&] {
        return onStandardPorts({51443, 443}) || onStandardPorts({51443});
      },
      std::chrono::seconds(60)))
      << "port 51443 of loopback stays taken";
  Launcher launcher;
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, "127.0.0.1");

  EXPECT_EQ(ErrorBoxText(launcher),
            std::string(kCannotStore) +
                "The archive jre_v_17.0.2.zip would unpack to 9216 MB, more than the 8192 MB "
                "allowed.");
  std::vector<RecordedRequest> requests = device->Requests();
  EXPECT_THAT(Paths(requests), ElementsAre(kInfo, kLogin, kInfoExt, kReadFile, kLogout));
  for (const RecordedRequest& r : requests)
    EXPECT_EQ(r.port, 51443) << r.path;
  EXPECT_EQ(launcher.Text(ControlId::edtHost), "127.0.0.1");
  EXPECT_THAT(app_.Files(), Contains(fs::path(L"JRECache") / L"jre_v_17.0.2.zip"));
  EXPECT_FALSE(fs::exists(app_.Path() / kJavaw));
  EXPECT_TRUE(launcher.Running());
}

// --- Developer mode ---

TEST_F(LauncherDevice, DeveloperModeWritesTheDiagnosticFilesBesideTheProgram) {
  // A copy of the program, so that its files land in a folder of the test's
  // own rather than in the build tree.
  TempFolder bin;
  const fs::path exe = bin.Path() / L"VeltraDynamicRemoteHMI.exe";
  fs::copy_file(winetest::LauncherExePath(), exe);
  fs::copy_file(winetest::LauncherExePath().parent_path() / L"7z.dll", bin.Path() / L"7z.dll");

  const std::string info = R"({"autologin": "disabled", "emergency": "false"})";
  const std::string infoExt =
      R"j({"build_version": "Veltra build 77 Release 410 (2026-02-02)", "schema_version": "7", )j"
      R"j("hw_model": "Q627-A", "hmi_jre": "jre_v_17.0.2.zip", )j"
      R"j("hmi_lib": "lib_hmi_full_410_7_r.zip"})j";
  DeviceSimulator device(Serving("good"));
  device.Configure(R"({"info_raw": )" + JsonString(info) + R"(, "infoext_raw": )" +
                   JsonString(infoExt) + "}");
  Launcher launcher({.kloxDataDir = bin.Path().wstring(), .exe = exe});
  launcher.WaitUntilShown();
  TypeAndLaunch(launcher, HostWithPort(device));
  ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));

  EXPECT_THAT(winetest::FileContents(bin.Path() / L"Log.txt"),
              FullyMatches("Duration=[0-9]+ ticks\r\n"));
  EXPECT_EQ(winetest::FileContents(bin.Path() / L"Info.json"), info + "\r\n");
  EXPECT_EQ(winetest::FileContents(bin.Path() / L"InfoExt.json"), infoExt + "\r\n");
  EXPECT_TRUE(fs::exists(app_.Path() / kJavaw));
}

// An installed copy that a standard user cannot write beside: the program
// lies on a read-only file system (made by the test command; skipped without
// one), so the developer files go to the user's own folder for the program,
// and the log says so first.
TEST_F(LauncherDevice, DeveloperModeOnAReadOnlyProgramFolderWritesToTheUsersFolder) {
  const char* readOnly = std::getenv("VELTRA_READONLY_PROGRAM_DIR");
  if (readOnly == nullptr || *readOnly == '\0')
    GTEST_SKIP() << "VELTRA_READONLY_PROGRAM_DIR names no read-only program folder";
  const fs::path bin = winetest::WindowsPath(readOnly);
  const fs::path exe = bin / L"VeltraDynamicRemoteHMI.exe";
  ASSERT_TRUE(fs::exists(exe));
  wchar_t local[MAX_PATH] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)));
  const fs::path moved = fs::path(local) / L"Veltra Dynamic Remote HMI";
  std::error_code ignored;
  fs::remove_all(moved, ignored);

  DeviceSimulator device(Serving("good"));
  {
    Launcher launcher({.kloxDataDir = bin.wstring(), .exe = exe});
    launcher.WaitUntilShown();
    TypeAndLaunch(launcher, HostWithPort(device));
    ASSERT_NO_FATAL_FAILURE(ExpectLaunchSucceeded(launcher, device, 0));
  }
  const std::string log = winetest::FileContents(moved / L"Log.txt");
  fs::remove_all(moved, ignored);
  EXPECT_THAT(log, FullyMatches("Developer files are written to .*Veltra Dynamic Remote HMI\\\\: "
                                "the program's folder .* cannot be written\\.\r\n"
                                "Duration=[0-9]+ ticks\r\n"));
  EXPECT_FALSE(fs::exists(bin / L"Log.txt"));
}

} // namespace
