#include "device/VerifyCredentials.h"
#include "common/DeviceAddress.h"
#include "common/Text.h"
#include "platform/fake/FakePlatform.h"
#include "tests/support/DeviceRig.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

using testsupport::DeviceRig;
using testsupport::FakeDevice;

constexpr const char* kFileRead = "POST /cgi-bin/ReadBinaryFile.cgi";

// A verification of the device's own: no window, the device context alone.
class VerifyTest : public ::testing::Test, public DeviceRig {
protected:
  VerifyTest() {
    auto failOnRequest = [this](const device::DeviceFacts&,
                                device::DeviceSession&) -> device::Provisioned {
      if (branchResult)
        return device::RuntimeImages{"C:\\jre", "C:\\lib", true, "", ""};
      return device::StepFailure{device::Stage::Provisioning, "branch failed",
                                 device::Whose::Connection};
    };
    download.answer = failOnRequest;
    package.answer = failOnRequest;
  }
  bool Verify() {
    message = "unset";
    result = DeviceRig::Verify();
    if (!result)
      message = result.failure.message;
    return static_cast<bool>(result);
  }
  const device::DeviceFacts& Facts() const { return result.verified->device; }

  bool branchResult = true;
  std::string message;
  device::Verification result;
};

TEST_F(VerifyTest, InputChecksStopBeforeAnyRequest) {
  struct Case {
    int mode;
    const char* host;
    const char* user;
    const char* pw;
    const char* message;
  } cases[] = {
      {0, " \t ", "admin", "pw", "Please specify an IP address"},
      {0, "gw", "  ", "pw", "Please specify a user name"},
      {2, "gw", "", "", "Please specify an emergency access code"},
      {0, "gw", "admin", " ", "Please specify a password"},
  };
  for (const Case& c : cases) {
    view.mode = c.mode;
    Fill(c.host, c.user, c.pw);
    p.ui.busy = false;
    EXPECT_FALSE(Verify());
    EXPECT_EQ(message, c.message);
    EXPECT_TRUE(p.http.requests.empty());
    EXPECT_FALSE(p.ui.busy);
    EXPECT_EQ(result.failure.stage, device::Stage::Input);
  }
}

TEST_F(VerifyTest, SuccessOnFirstPortWalksTheRequestsInOrder) {
  EXPECT_TRUE(Verify());
  EXPECT_EQ(p.http.Paths(), (std::vector<std::string>{"GET /info.cgi", "POST /LOGIN",
                                                      "GET /cgi-bin/infoExt.cgi", "POST /LOGOUT"}));
  EXPECT_EQ(p.http.requests[0].url, "https://gw:51443/info.cgi");
  EXPECT_EQ(p.http.requests[1].url, "https://gw:51443/LOGIN");
  EXPECT_EQ(p.http.requests[1].body,
            "sessID=&credential_0=admin&credential_1=pw&credential_2=192.0.2.10&destination=%2F");
  EXPECT_EQ(p.http.requests[3].url, "https://gw:51443/LOGOUT");
  // The session cookie goes back without anyone adding it by hand.
  EXPECT_EQ(p.http.CookieOf(0), "");
  EXPECT_EQ(p.http.CookieOf(2), "R930::AuthCookieHandler_R930HMI=tok-1");
  EXPECT_EQ(p.http.CookieOf(3), "R930::AuthCookieHandler_R930HMI=tok-1");
  EXPECT_TRUE(p.http.certificateAccepted);
  EXPECT_EQ(view.host, "gw:51443");
  EXPECT_EQ(result.verified->hostText, "gw:51443");
  EXPECT_EQ(Facts().sessionToken, "tok-1");
  EXPECT_EQ(Facts().releaseVersionAsInt, 410);
  EXPECT_EQ(Facts().releaseVersion, "v4.10");
  EXPECT_EQ(Facts().deviceType, "Q614");
  EXPECT_EQ(Facts().schemaversion, "7");
  EXPECT_EQ(Facts().hmiJREFile, "jre_v_17.0.2.zip");
  EXPECT_TRUE(Facts().hmiEnabled);
  EXPECT_FALSE(result.verified->sessionHandedOver);
  EXPECT_EQ(result.verified->images.jreImageFolder, "C:\\jre");
  EXPECT_EQ(branchCalls, (std::vector<std::string>{"download:51443"}));
  EXPECT_EQ(view.status, "");
  EXPECT_FALSE(p.ui.busy);
  EXPECT_TRUE(p.ui.messages.empty());
}

TEST_F(VerifyTest, DeviceOnlyOn443GetsTheSecondAttempt) {
  p.http.openPorts = {443};
  EXPECT_TRUE(Verify());
  EXPECT_EQ(p.http.requestPorts.front(), 51443);
  EXPECT_EQ(view.host, "gw:443");
  EXPECT_EQ(p.http.requests.back().url, "https://gw:443/LOGOUT");
  // The next launch in the same run makes one attempt, on that port.
  p.http.requests.clear();
  p.http.requestPorts.clear();
  EXPECT_TRUE(Verify());
  EXPECT_EQ(p.http.requests[0].url, "https://gw:443/info.cgi");
}

TEST_F(VerifyTest, NoDeviceAtAll) {
  p.http.openPorts = {};
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "Unable to connect to a device at the specified address.");
  EXPECT_EQ(result.failure.stage, device::Stage::Connect);
  EXPECT_EQ(p.http.requestPorts, (std::vector<int>{51443, 443}));
  EXPECT_EQ(view.host, "gw");
}

// The first port answered and failed, and nothing answers on the second at
// all: what the first port said is what the operator reads, not that no
// device could be reached.
TEST_F(VerifyTest, NothingOnTheSecondPortKeepsTheFirstPortsFailure) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    const char* message;
    device::Stage stage;
  } cases[] = {
      {"wrong password", [this] { view.password = "wrong"; },
       "The credentials provided are incorrect for this device.", device::Stage::Login},
      {"dynamic HMI off", [this] { device.ext["dynamic_hmi_enabled"] = "0"; },
       "Remote dynamic HMI functionality is not enabled on this device.", device::Stage::Login},
      {"branch failed", [this] { branchResult = false; }, "branch failed",
       device::Stage::Provisioning},
      {"an answer that cannot be read", [this] { device.ext["dynamic_hmi_enabled"] = "\"yes\""; },
       "Unable to connect to a device at the specified address.", device::Stage::Login},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceRig::Fill("gw", "admin", "pw");
    device.ext.erase("dynamic_hmi_enabled");
    branchResult = true;
    p.http.openPorts = {51443};
    p.http.requestPorts.clear();
    c.setUp();
    EXPECT_FALSE(Verify());
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(result.failure.stage, c.stage);
    EXPECT_EQ(p.http.requestPorts.back(), 443);
    EXPECT_EQ(view.host, "gw");
  }
}

TEST_F(VerifyTest, TypedPortMeansOneAttemptOnIt) {
  Fill("gw:8443", "admin", "wrong");
  p.http.openPorts = {8443};
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "The credentials provided are incorrect for this device.");
  EXPECT_EQ(p.http.requests[0].url, "https://gw:8443/info.cgi");
  EXPECT_EQ(p.http.Paths(),
            (std::vector<std::string>{"GET /info.cgi", "POST /LOGIN"})); // nothing to log out
}

TEST_F(VerifyTest, WrongPasswordWithoutPortTriesBothAndReportsTheLast) {
  Fill("gw", "admin", "wrong");
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "The credentials provided are incorrect for this device.");
  EXPECT_EQ(p.http.requestPorts, (std::vector<int>{51443, 51443, 443, 443}));
}

TEST_F(VerifyTest, LoginStatusOtherThan200IsAFailedLogin) {
  for (int status : {302, 401, 500}) {
    device.loginStatus = status;
    Fill("gw:1", "admin", "pw");
    p.http.openPorts = {1};
    EXPECT_FALSE(Verify()) << status;
    EXPECT_EQ(message, "The credentials provided are incorrect for this device.") << status;
  }
}

TEST(VerifyStops, StopMessagesEndTheAttempts) {
  using SetUp = std::function<void(DeviceRig&)>;
  const std::vector<std::string> throughExt = {"GET /info.cgi", "POST /LOGIN",
                                               "GET /cgi-bin/infoExt.cgi", "POST /LOGOUT"};
  struct Case {
    const char* name;
    SetUp setUp;
    const char* message;
    std::vector<std::string> paths;
  } cases[] = {
      {"auto-login not configured",
       [](DeviceRig& r) { r.view.mode = 1; },
       "Auto-login is not configured for this device.",
       {"GET /info.cgi"}},
      {"emergency not enabled",
       [](DeviceRig& r) {
         r.view.mode = 2;
         r.view.userName = "EC-1";
       },
       "Emergency access is not enabled for this device.",
       {"GET /info.cgi"}},
      {"login without answer",
       [](DeviceRig& r) { r.p.http.Fail("POST /LOGIN"); },
       "Unable to connect to device at specified address.",
       {"GET /info.cgi", "POST /LOGIN"}},
      {"not our device", [](DeviceRig& r) { r.device.ext["hw_model"] = "\"X999\""; },
       "The device at this host is not a Veltra device.", throughExt},
      {"three-character model", [](DeviceRig& r) { r.device.ext["hw_model"] = "\"Q61\""; },
       "The device at this host is not a Veltra device.", throughExt},
  };
  for (const Case& c : cases) {
    DeviceRig r;
    c.setUp(r);
    device::Verification v = r.Verify();
    EXPECT_FALSE(v) << c.name;
    EXPECT_EQ(v.failure.message, c.message) << c.name;
    EXPECT_EQ(r.p.http.Paths(), c.paths) << c.name;
    EXPECT_FALSE(r.p.ui.busy) << c.name;
  }
}

TEST_F(VerifyTest, DeviceTypeKeepsItsLetterCase) {
  device.ext["hw_model"] = "\"q614-B\"";
  EXPECT_TRUE(Verify());
  EXPECT_EQ(Facts().deviceType, "q614");
}

TEST_F(VerifyTest, DynamicHmiFlag) {
  struct Case {
    const char* value; // JSON text of the member
    bool ok;
    const char* message;
  } cases[] = {
      {"__missing__", true, ""},
      {"\"\"", true, ""},
      {"\"True\"", true, ""},
      {"1", true, ""},
      {"true", true, ""},
      {"0", false, "Remote dynamic HMI functionality is not enabled on this device."},
      {"\"false\"", false, "Remote dynamic HMI functionality is not enabled on this device."},
      {"\"yes\"", false, "Unable to connect to a device at the specified address."},
  };
  for (const Case& c : cases) {
    device.ext["dynamic_hmi_enabled"] = c.value;
    view.host = "gw:51443";
    branchCalls.clear();
    EXPECT_EQ(Verify(), c.ok) << c.value;
    if (!c.ok) {
      EXPECT_EQ(message, c.message) << c.value;
      EXPECT_TRUE(branchCalls.empty()) << c.value;
    }
  }
}

TEST_F(VerifyTest, ProvisioningBranchChoice) {
  struct Case {
    bool enableDownload;
    const char* missingMember;
    const char* branch;
  } cases[] = {
      {true, nullptr, "download:51443"},   {false, nullptr, "package"},
      {true, "hmi_jre", "package"},        {true, "hmi_lib", "package"},
      {true, "schema_version", "package"},
  };
  for (const Case& c : cases) {
    FakeDevice d;
    if (c.missingMember)
      d.ext[c.missingMember] = "__missing__";
    d.Install(p.http);
    g.enableDownload = c.enableDownload;
    view.host = "gw";
    branchCalls.clear();
    EXPECT_TRUE(Verify());
    EXPECT_EQ(branchCalls, (std::vector<std::string>{c.branch}))
        << (c.missingMember ? c.missingMember : "complete");
  }
}

TEST_F(VerifyTest, BranchFailureOnFirstPortRepeatsOnSecond) {
  branchResult = false;
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "branch failed");
  EXPECT_EQ(branchCalls, (std::vector<std::string>{"download:51443", "download:443"}));
  EXPECT_EQ(p.http.Paths().back(), "POST /LOGOUT");
  EXPECT_EQ(p.http.requests.back().url, "https://gw:443/LOGOUT");
}

TEST_F(VerifyTest, AutoLoginSendsEmptyCredentials) {
  device.autologin = "enabled";
  view.mode = 1;
  Fill("gw", "", "");
  EXPECT_TRUE(Verify());
  EXPECT_EQ(p.http.requests[1].body,
            "sessID=&credential_0=&credential_1=&credential_2=192.0.2.10&destination=%2F");
}

TEST_F(VerifyTest, EnabledFlagsAreCaseSensitive) {
  device.autologin = "Enabled";
  view.mode = 1;
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "Auto-login is not configured for this device.");
  device.infoRaw = R"({"autologin":"enabled","emergency":"True"})";
  view.mode = 2;
  view.userName = "EC-1";
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "Emergency access is not enabled for this device.");
}

TEST_F(VerifyTest, InfoThatIsNotJsonReadsAsEmpty) {
  device.infoRaw = "<html>Internal error</html>";
  view.mode = 1;
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "Auto-login is not configured for this device.");
}

TEST_F(VerifyTest, EmergencyAccessBelow410LogsOutAndAsksForANewCode) {
  device.emergency = "true";
  device.ext["build_version"] = "\"Release 400\"";
  view.mode = 2;
  Fill("gw", "EC-1", "");
  EXPECT_TRUE(Verify());
  EXPECT_EQ(p.http.requests[1].body,
            "sessID=&credential_0=&credential_1=EC-1&credential_2=192.0.2.10&destination=%2F");
  EXPECT_EQ(device.logouts, 1);
  ASSERT_EQ(p.ui.messages.size(), 1u);
  EXPECT_EQ(p.ui.messages[0].kind, plat::MessageKind::Confirmation);
  EXPECT_EQ(p.ui.messages[0].text,
            "Please generate a new emergency access code and press Enter when it is available.");
}

TEST_F(VerifyTest, EmergencyAccessFrom410KeepsTheSessionOpen) {
  device.emergency = "true";
  view.mode = 2;
  Fill("gw", "EC-1", "");
  EXPECT_TRUE(Verify());
  EXPECT_EQ(device.logouts, 0);
  EXPECT_TRUE(p.ui.messages.empty());
  EXPECT_EQ(Facts().sessionToken, "tok-1");
  EXPECT_TRUE(result.verified->sessionHandedOver);
}

TEST_F(VerifyTest, FailedRequestAfterLoginMeansNoLogout) {
  Fill("gw:51443", "admin", "pw");
  p.http.Fail("GET /cgi-bin/infoExt.cgi");
  EXPECT_FALSE(Verify());
  EXPECT_EQ(message, "Unable to connect to a device at the specified address.");
  EXPECT_EQ(device.logouts, 0);
}

TEST_F(VerifyTest, ErrorsInsideAnAttempt) {
  struct Case {
    const char* name;
    const char* host;
    const char* banner;
    bool nameResolves;
  } cases[] = {
      {"port not a number", "gw:x", "\"Release 410\"", true},
      {"own name does not resolve", "gw:51443", "\"Release 410\"", false},
      {"release word not a number", "gw:51443", "\"release  410\"", true},
  };
  for (const Case& c : cases) {
    device.ext["build_version"] = c.banner;
    device.Install(p.http);
    p.network.local.nameResolved = c.nameResolves;
    view.host = c.host;
    EXPECT_FALSE(Verify()) << c.name;
    EXPECT_EQ(message, "Unable to connect to a device at the specified address.") << c.name;
  }
}

TEST_F(VerifyTest, LogAndDeveloperFilesOnlyInDeveloperMode) {
  EXPECT_TRUE(Verify());
  EXPECT_FALSE(p.files.FileExists("C:\\Program Files\\Veltra\\Log.txt"));
  EXPECT_FALSE(p.files.FileExists("C:\\Program Files\\Veltra\\Info.json"));

  g.isDeveloper = g.enableLogging = true;
  p.http.openPorts = {443};
  p.http.onRequest = [this](const plat::HttpRequest& r) {
    if (r.url.find("info.cgi") != std::string::npos)
      p.system.tick += 1500; // a slow link
  };
  view.host = "gw";
  EXPECT_TRUE(Verify());
  // One line per port tried that answered the information request.
  EXPECT_EQ(p.files.Contents("C:\\Program Files\\Veltra\\Log.txt"), "Duration=1500 ticks\r\n");
  EXPECT_TRUE(Facts().wanConnection);
  EXPECT_EQ(p.files.Contents("C:\\Program Files\\Veltra\\Info.json"),
            R"({"autologin":"disabled","emergency":false})"
            "\r\n");
  EXPECT_NE(p.files.Contents("C:\\Program Files\\Veltra\\InfoExt.json").find("Q614-B"),
            std::string::npos);
}

TEST(ReleaseVersion, FromTheBuildBanner) {
  struct Case {
    const char* banner;
    int32_t asInt;
    const char* text;
  } cases[] = {
      {"Veltra Release 410 build", 410, "v4.10"},
      {"RELEASE 300", 300, "v3.00"},
      {"x Release 1200", 1200, "v12.00"},
      {"Release 41", 41, "v.41"},
      {"Release 4", 4, "v.4"},
      {"Release Release 250", 250, "v2.50"},
      {"no marker here", 77, ""},
      {"ends with Release", 77, ""},
  };
  for (const Case& c : cases) {
    device::DeviceFacts f;
    f.releaseVersionAsInt = 77;
    f.buildBanner = c.banner;
    device::ExtractReleaseVersion(f);
    EXPECT_EQ(f.releaseVersionAsInt, c.asInt) << c.banner;
    EXPECT_EQ(f.releaseVersion, c.text) << c.banner;
  }
}

TEST(DeviceAddress, HostBoxRules) {
  EXPECT_EQ(addr::ExtractHost("192.0.2.7:8443"), "192.0.2.7");
  EXPECT_EQ(addr::ExtractHost("192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(addr::ExtractPort("192.0.2.7:8443"), 8443);
  EXPECT_EQ(addr::ExtractPort("192.0.2.7"), 443);
  EXPECT_THROW(addr::ExtractPort("192.0.2.7:x"), std::runtime_error);
  EXPECT_EQ(addr::DeviceAddress("192.0.2.7", 51443, "info.cgi"),
            "https://192.0.2.7:51443/info.cgi");
  EXPECT_EQ(addr::DeviceAddress("192.0.2.7:8443", 8443, "cgi-bin/ReadBinaryFile.cgi"),
            "https://192.0.2.7:8443/cgi-bin/ReadBinaryFile.cgi");
}

// A file of the cache that cannot be made or written is this machine's
// failure, not the device's: it says why, no other port is tried, and the
// session that is open is still ended. A file that cannot be made stops the
// read before it is sent; one that fails half-way (a full disk) ends it
// after.
TEST(VerifyLocalFailure, ALocalFileThatCannotBeWrittenStillLogsOut) {
  const std::string root = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
  const std::string archive = root + "\\JRECache\\jre_v_17.0.2.zip";
  const std::string part = archive + ".4242.0.part";
  const std::string partRefused =
      "The file " + archive + " cannot be written here: Cannot create file \"" + part + "\".";
  struct Case {
    const char* name;
    std::function<void(fake::FakePlatform&)> setUp;
    bool readSent;
    std::string reason;
  } cases[] = {
      {"JRECache is a file",
       [&](fake::FakePlatform& p) { p.files.AddFile(root + "\\JRECache", "not a folder"); }, false,
       partRefused},
      {"part file refused", [&](fake::FakePlatform& p) { p.files.unwritable.insert(part); }, false,
       partRefused},
      {"disk fails during the transfer",
       [&](fake::FakePlatform& p) {
         p.http.onRequest = [&p](const plat::HttpRequest& r) {
           if (r.bodyFile)
             p.files.unwritable.insert(*r.bodyFile);
         };
       },
       true, "Cannot create file \"" + part + "\"."},
  };
  for (const Case& c : cases) {
    DeviceRig r;
    r.downloadBranch = &device::DownloadFromDevice();
    r.view.host = "gw";
    fake::FakePlatform& fp = r.p;
    FakeDevice& d = r.device;
    c.setUp(fp);
    device::Verification v = r.Verify();
    EXPECT_FALSE(v) << c.name;
    EXPECT_EQ(v.failure.message, "This computer could not store the runtime images: " + c.reason)
        << c.name;
    EXPECT_EQ(v.failure.whose, device::Whose::ThisComputer) << c.name;
    std::vector<std::string> expected{"GET /info.cgi", "POST /LOGIN", "GET /cgi-bin/infoExt.cgi"};
    if (c.readSent)
      expected.push_back("POST /cgi-bin/ReadBinaryFile.cgi");
    expected.push_back("POST /LOGOUT");
    EXPECT_EQ(fp.http.Paths(), expected) << c.name;
    EXPECT_EQ(fp.http.requestPorts, std::vector<int>(expected.size(), 51443)) << c.name;
    EXPECT_EQ(d.logouts, 1) << c.name;
    EXPECT_FALSE(fp.files.FileExists(part)) << c.name;
  }
}

// A file read that fails says nothing certain about the device: the launcher
// may have refused the body (no length, too slow, beyond the cap) or the body
// may have ended early. The device that answered is still there, so its
// session is ended; one that is really gone does not answer the logout
// either, and nothing more is tried.
TEST(VerifyFileReadFailure, TheSessionIsStillLoggedOut) {
  auto cut = fake::FakeHttpTransport::Answer(200, "PK-half");
  cut.complete = false;
  struct Case {
    const char* name;
    std::function<void(fake::FakeHttpTransport&)> setUp;
    size_t logoutsSent;
  } cases[] = {
      {"answer ended early", [&](auto& http) { http.Route(kFileRead, cut); }, 1},
      {"answer refused by the launcher", [](auto& http) { http.Fail(kFileRead); }, 1},
      {"status 404",
       [](auto& http) { http.Route(kFileRead, fake::FakeHttpTransport::Answer(404, "")); }, 1},
      {"device gone after the read",
       [](auto& http) {
         http.Fail(kFileRead);
         http.Fail("POST /LOGOUT");
       },
       1},
  };
  for (const Case& c : cases) {
    DeviceRig r;
    r.downloadBranch = &device::DownloadFromDevice();
    r.view.host = "gw:51443";
    c.setUp(r.p.http);
    device::Verification v = r.Verify();
    EXPECT_FALSE(v) << c.name;
    EXPECT_EQ(v.failure.message, "Unable to download JRE archive.") << c.name;
    const std::vector<std::string> paths = r.p.http.Paths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "POST /LOGOUT"), c.logoutsSent) << c.name;
    EXPECT_EQ(paths.back(), "POST /LOGOUT") << c.name;
  }
}

// A failure of this machine while the images are stored (a write refused,
// no room for what the archive states, no archive library), or an archive
// name from the device that cannot become a file name here, is neither the
// connection's fault nor cured by another port: it is told in its own words
// and ends the attempts. A good archive stays in the cache.
TEST(VerifyLocalFailure, OwnWordsAndNoSecondPort) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  const std::string root = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
  const std::string jreCache = root + "\\JRECache\\jre_v_17.0.2.zip";
  const std::string cannotStore = "This computer could not store the runtime images: ";
  // A cached runtime archive whose one item states `size` bytes, or as many
  // as it holds.
  auto cachedStating = [&](DeviceRig& r, std::optional<uint64_t> size = std::nullopt) {
    r.p.files.AddFile(jreCache, "PK");
    fake::FakeArchiveContent jre = fake::FakeArchiveContent::Files("zip", {"bin/javaw.exe"});
    if (size)
      jre.items[0].size = size;
    r.p.archives.archives[r.p.files.Normalize(jreCache)] = jre;
  };
  struct Case {
    const char* name;
    std::function<void(DeviceRig&)> setUp;
    std::string message; // the beginning of it
    bool archiveKept;
  } cases[] = {
      {"write refused while extracting",
       [&](DeviceRig& r) {
         cachedStating(r);
         r.p.files.unwritable.insert(root + "\\JREImage\\~v17.0.2.0_4242_0\\new\\bin\\javaw.exe");
       },
       cannotStore + "Cannot create file", true},
      {"no room on the disk for what the items state",
       [&](DeviceRig& r) {
         cachedStating(r, 2 * kMiB);
         r.p.files.freeBytes["c:"] = kMiB;
       },
       cannotStore + "The archive jre_v_17.0.2.zip would unpack to 2 MB, more than the 1 MB free "
                     "on the disk.",
       true},
      {"more than any image may take", [&](DeviceRig& r) { cachedStating(r, 9 * 1024 * kMiB); },
       cannotStore +
           "The archive jre_v_17.0.2.zip would unpack to 9216 MB, more than the 8192 MB allowed.",
       true},
      {"no archive library",
       [&](DeviceRig& r) {
         cachedStating(r);
         r.p.archives.present = false;
       },
       cannotStore + "7z.dll not found", true},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (const char* name : {"..\\evil.zip", "C:\\evil.zip", "CON.zip", "jre_v_17.zip."})
    all.push_back({name,
                   [name](DeviceRig& r) {
                     r.device.ext["hmi_jre"] = "\"" + text::ReplaceAll(name, "\\", "\\\\") + "\"";
                   },
                   cannotStore + "The device offered an archive name that cannot be used: " + name,
                   false});
  for (const Case& c : all) {
    DeviceRig r;
    r.downloadBranch = &device::DownloadFromDevice();
    c.setUp(r);
    device::Verification v = r.Verify();
    EXPECT_FALSE(v) << c.name;
    EXPECT_EQ(v.failure.message.substr(0, c.message.size()), c.message) << c.name;
    EXPECT_EQ(v.failure.stage, device::Stage::Provisioning) << c.name;
    EXPECT_EQ(v.failure.whose, device::Whose::ThisComputer) << c.name;
    EXPECT_EQ(r.p.http.Paths(),
              (std::vector<std::string>{"GET /info.cgi", "POST /LOGIN", "GET /cgi-bin/infoExt.cgi",
                                        "POST /LOGOUT"}))
        << c.name;
    EXPECT_EQ(r.p.http.requestPorts, std::vector<int>(4, 51443)) << c.name;
    EXPECT_EQ(r.p.files.FileExists(jreCache), c.archiveKept) << c.name;
  }
}

// After verification every request goes to the device that answered: a host
// box edited while the runtime archive is read sends nothing, and no session
// cookie, to the address typed meanwhile, and the launch goes on with the
// verified device.
TEST(VerifyEditedHost, LaterRequestsGoToTheVerifiedDevice) {
  struct Case {
    const char* name;
    const char* typed;
    std::set<int> devicePorts;
    device::DeviceEndpoint answered;
    const char* hostText;
  } cases[] = {
      {"no port typed, the first port answers",
       "gw",
       {51443, 443},
       {"gw", 51443, false},
       "gw:51443"},
      {"no port typed, the second port answers", "gw", {443}, {"gw", 443, false}, "gw:443"},
      {"port typed", "gw:8443", {8443}, {"gw:8443", 8443, true}, "gw:8443"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeviceRig r;
    r.DownloadForReal();
    r.view.host = c.typed;
    // Another device answers at the address typed meanwhile.
    r.p.http.openPorts = c.devicePorts;
    r.p.http.openPorts.insert(9443);
    size_t editedAt = 0;
    r.p.http.onRequest = [&](const plat::HttpRequest& request) {
      if (editedAt == 0 && request.bodyFile) {
        r.view.host = "other:9443";
        editedAt = r.p.http.requests.size();
      }
    };
    device::Verification v = r.Verify();
    ASSERT_TRUE(v) << v.failure.message;
    ASSERT_GT(editedAt, 0u);
    const std::string verifiedUrl = "https://" + std::string(c.hostText) + "/";
    const std::vector<std::string> paths = r.p.http.Paths();
    EXPECT_EQ(std::vector<std::string>(paths.begin() + editedAt - 1, paths.end()),
              (std::vector<std::string>{kFileRead, kFileRead, "POST /LOGOUT"}));
    for (size_t i = editedAt - 1; i < r.p.http.requests.size(); ++i) {
      EXPECT_EQ(r.p.http.requests[i].url.rfind(verifiedUrl, 0), 0u) << r.p.http.requests[i].url;
      EXPECT_EQ(r.p.http.CookieOf(i), "R930::AuthCookieHandler_R930HMI=tok-1");
    }
    EXPECT_EQ(v.verified->hostText, c.hostText);
    EXPECT_EQ(v.verified->endpoint, c.answered);
    EXPECT_EQ(r.view.host, c.hostText);
  }
}

// --- Two launchers providing the same images ----------------------------------

TEST_F(VerifyTest, EitherBranchRunsHoldingTheRuntimeImagesLock) {
  for (bool download : {true, false}) {
    g.enableDownload = download;
    view.host = "gw";
    p.system.lockJournal.clear();
    std::vector<bool> heldInBranch;
    auto held = [&] {
      heldInBranch.push_back(p.system.locksHeld.count(device::kRuntimeImagesLock));
    };
    auto heldAndDone = [&](const device::DeviceFacts&, device::DeviceSession&) {
      held();
      return device::Provisioned(device::RuntimeImages{});
    };
    this->download.answer = heldAndDone;
    package.answer = heldAndDone;
    EXPECT_TRUE(Verify());
    EXPECT_EQ(heldInBranch, std::vector<bool>{true}) << download;
    EXPECT_EQ(p.system.lockJournal,
              (std::vector<std::string>{std::string("lock ") + device::kRuntimeImagesLock,
                                        std::string("unlock ") + device::kRuntimeImagesLock}))
        << download;
  }
}

TEST_F(VerifyTest, ASecondLauncherWaitsRespondingAndThenFindsTheImagesInPlace) {
  const std::string root = "C:\\ProgramData\\Veltra Dynamic Remote HMI";
  downloadBranch = &device::DownloadFromDevice();
  p.system.locksHeldElsewhere.insert(device::kRuntimeImagesLock);
  std::vector<std::string> statusWhileWaiting;
  p.ui.onProcessMessages = [&] {
    statusWhileWaiting.push_back(view.status);
    if (statusWhileWaiting.size() < 5)
      return;
    // The other launcher is done: archive and both images are in place.
    p.files.AddFile(root + "\\JRECache\\jre_v_17.0.2.zip", "PK");
    p.files.AddFile(root + "\\JREImage\\v17.0.2.0\\bin\\javaw.exe", "MZ");
    p.files.AddFile(root + "\\LIBImage\\v4.10\\v410_0007\\config-gui.jar", "PK");
    p.system.locksHeldElsewhere.clear();
  };
  EXPECT_TRUE(Verify()) << message;
  EXPECT_EQ(p.http.Paths(), (std::vector<std::string>{"GET /info.cgi", "POST /LOGIN",
                                                      "GET /cgi-bin/infoExt.cgi", "POST /LOGOUT"}));
  ASSERT_GE(statusWhileWaiting.size(), 5u);
  EXPECT_EQ(statusWhileWaiting[0], "Waiting for another launcher to provide the runtime images...");
  EXPECT_EQ(result.verified->images.jreImageFolder, root + "\\JREImage\\v17.0.2.0");
  EXPECT_EQ(view.status, "");
}

TEST_F(VerifyTest, ALockThatCannotBeHadDoesNotStopTheLaunch) {
  struct Case {
    const char* name;
    bool locksWork;
    bool heldForEver;
  } cases[] = {{"no lock can be made", false, false}, {"held for ever elsewhere", true, true}};
  for (const Case& c : cases) {
    p.system.namedLocksWork = c.locksWork;
    if (c.heldForEver)
      p.system.locksHeldElsewhere.insert(device::kRuntimeImagesLock);
    view.host = "gw";
    branchCalls.clear();
    EXPECT_TRUE(Verify()) << c.name;
    EXPECT_EQ(branchCalls, (std::vector<std::string>{"download:51443"})) << c.name;
    EXPECT_TRUE(p.system.locksHeld.empty()) << c.name;
  }
}

TEST_F(VerifyTest, LogoutResult) {
  view.host = "gw";
  EXPECT_TRUE(device::Logout(http, "gw", 51443, false));
  EXPECT_EQ(p.http.requests.back().url, "https://gw:51443/LOGOUT");
  EXPECT_EQ(p.http.requests.back().body, "");
  p.http.Fail("POST /LOGOUT");
  EXPECT_FALSE(device::Logout(http, "gw", 51443, false));
  // A session logs out once, whatever the answer: there is nothing more to
  // end afterwards.
  device::DeviceSession session(http, {"gw", 51443, false}, "tok-1");
  const size_t before = p.http.requests.size();
  session.End();
  EXPECT_FALSE(session.Open());
  session.End();
  EXPECT_EQ(p.http.requests.size(), before + 1);
}

} // namespace
