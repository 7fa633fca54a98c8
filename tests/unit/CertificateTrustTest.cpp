#include "device/CertificateTrust.h"
#include "common/Text.h"
#include "device/VerifyCredentials.h"
#include "platform/fake/FakePlatform.h"
#include "store/Settings.h"
#include "tests/support/DeviceRig.h"
#include "tests/support/FakeDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::DeviceRig;
using testsupport::kKnownDevicesFile;
using testsupport::kOtherCertificate;
using testsupport::RecordCertificates;

const std::string kDeviceCertificate = fake::FakeHttpTransport::kDeviceCertificate;
const std::vector<std::string> kWholeLogin = {"GET /info.cgi", "POST /LOGIN",
                                              "GET /cgi-bin/infoExt.cgi", "POST /LOGOUT"};
const std::vector<std::string> kInformationOnly = {"GET /info.cgi"};

// A device, the fakes and the launcher's device context, with the settings
// file and the record of certificates at hand.
struct TrustRig : DeviceRig {
  void Settings(const std::string& policy) {
    p.files.CreateDirectories("C:\\ProgramData\\Veltra Dynamic Remote HMI");
    p.files.WriteFile(folders.GetApplicationSettingsFile(),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ApplicationSettings>\r\n" +
                          policy + "\r\n</ApplicationSettings>\r\n");
  }
  std::string Record() {
    return p.files.FileExists(kKnownDevicesFile) ? p.files.ReadFile(kKnownDevicesFile) : "";
  }
  std::string LogText() {
    const std::string file = log.GetLogFileName();
    return p.files.FileExists(file) ? p.files.ReadFile(file) : "";
  }
};

class CertificateTrustTest : public ::testing::Test, public TrustRig {};

// One login to "gw" (port 51443), by policy, record and what the device
// presents, and how the operator answers the question if it comes.
TEST_F(CertificateTrustTest, DecisionTable) {
  const std::string recorded = "gw:51443 " + kDeviceCertificate + "\r\n";
  const std::string recordedOther = "gw:51443 " + std::string(kOtherCertificate) + "\r\n";
  struct Case {
    const char* name;
    std::function<void(TrustRig&)> setUp;
    std::vector<bool> answers;
    bool verified;
    std::vector<std::string> requests;
    size_t questions;
    std::optional<std::string> recordAfter; // not looked at when nothing
    std::string message;                    // the failure's, when not verified
  } cases[] = {
      {"first use: taken without a question and recorded",
       nullptr,
       {},
       true,
       kWholeLogin,
       0,
       recorded,
       ""},
      {"the certificate on record",
       [&](TrustRig& t) { RecordCertificates(t.p, recorded); },
       {},
       true,
       kWholeLogin,
       0,
       recorded,
       ""},
      {"changed, answered No: nothing more is sent",
       [&](TrustRig& t) { RecordCertificates(t.p, recordedOther); },
       {false},
       false,
       kInformationOnly,
       1,
       recordedOther,
       ""},
      {"changed, answered Yes: the new one is recorded",
       [&](TrustRig& t) { RecordCertificates(t.p, recordedOther); },
       {true},
       true,
       kWholeLogin,
       1,
       recorded,
       ""},
      {"changed under -autologin",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recordedOther);
         t.device.autologin = "enabled";
         t.view.mode = launch::modeAutoLogin;
         t.g.doAutoLogin = true;
       },
       {false},
       false,
       kInformationOnly,
       1,
       recordedOther,
       ""},
      {"changed in emergency access",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recordedOther);
         t.device.emergency = "true";
         t.view.mode = launch::modeEmergencyAccess;
         t.Fill("gw", "EC-1", "");
       },
       {false},
       false,
       kInformationOnly,
       1,
       recordedOther,
       ""},
      // The host as typed in another letter case, and other devices' lines
      // and a damaged line around it, are the same record.
      {"record of several devices",
       [&](TrustRig& t) {
         RecordCertificates(t.p, "gw:443 " + kDeviceCertificate + "\r\nrubbish\r\n" +
                                     recordedOther + "other:51443 " + kDeviceCertificate);
         t.Fill("GW", "admin", "pw");
       },
       {false},
       false,
       kInformationOnly,
       1,
       std::nullopt,
       ""},
      {"pinned, listed (any spelling): no question, nothing recorded",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recordedOther);
         std::string pin = kDeviceCertificate;
         std::erase(pin, ':');
         t.Settings("<CertificatePolicy mode=\"pinned\"><Pin sha256=\"" +
                    std::string(kOtherCertificate) + "\"/><Pin sha256=\"" +
                    text::ToLowerAscii(pin) + "\"/></CertificatePolicy>");
       },
       {},
       true,
       kWholeLogin,
       0,
       recordedOther,
       ""},
      {"pinned, not listed: refused without a question",
       [&](TrustRig& t) {
         t.Settings("<CertificatePolicy mode=\"pinned\"><Pin sha256=\"" +
                    std::string(kOtherCertificate) + "\"/></CertificatePolicy>");
       },
       {true},
       false,
       kInformationOnly,
       0,
       "",
       "The certificate of the device at gw:51443 is not one of those allowed on this "
       "computer.\n\nPresented (SHA-256): " +
           kDeviceCertificate},
      {"pinned, nothing listed",
       [&](TrustRig& t) { t.Settings("<CertificatePolicy mode=\"pinned\"/>"); },
       {},
       false,
       kInformationOnly,
       0,
       "",
       "The certificate of the device at gw:51443 is not one of those allowed on this "
       "computer.\n\nPresented (SHA-256): " +
           kDeviceCertificate},
      {"any: neither compared nor recorded",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recordedOther);
         t.Settings("<CertificatePolicy mode=\"any\"/>");
       },
       {},
       true,
       kWholeLogin,
       0,
       recordedOther,
       ""},
      {"unknown mode: first use",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recordedOther);
         t.Settings("<CertificatePolicy mode=\"trust-all\"/>");
       },
       {false},
       false,
       kInformationOnly,
       1,
       recordedOther,
       ""},
      {"a settings file without the element: first use",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recordedOther);
         t.Settings("<PackageFolder baseURI=\"C:\\pkgs\"/>");
       },
       {false},
       false,
       kInformationOnly,
       1,
       recordedOther,
       ""},
      {"no certificate to read",
       [&](TrustRig& t) { t.p.http.certificate = ""; },
       {true},
       false,
       kInformationOnly,
       0,
       "",
       "The certificate of the device at gw:51443 could not be read, so it cannot be checked."},
      {"a record that cannot be read",
       [&](TrustRig& t) {
         RecordCertificates(t.p, recorded);
         t.p.files.unreadable.insert(kKnownDevicesFile);
       },
       {true},
       false,
       kInformationOnly,
       0,
       std::nullopt,
       ""},
  };
  for (const Case& c : cases) {
    TrustRig t;
    if (c.setUp)
      c.setUp(t);
    t.p.ui.yesNoAnswers = c.answers;
    const device::Verification v = t.Verify();
    SCOPED_TRACE(c.name);
    EXPECT_EQ(static_cast<bool>(v), c.verified);
    EXPECT_EQ(t.p.http.Paths(), c.requests);
    EXPECT_EQ(t.p.ui.questions.size(), c.questions);
    if (c.recordAfter) {
      EXPECT_EQ(t.Record(), *c.recordAfter);
    }
    if (!v && !c.message.empty()) {
      EXPECT_EQ(v.failure.message, c.message);
    }
    // No other port after a refusal or a No: the device was reached.
    if (!v) {
      EXPECT_FALSE(v.failure.OtherPortMayHelp());
    }
    // A No is the operator's last word: nothing is shown after it, not
    // even emergency access's confirmation.
    if (c.questions == 1 && !c.verified) {
      EXPECT_EQ(v.failure.whose, device::Whose::Declined);
      EXPECT_TRUE(t.p.ui.messages.empty());
    }
  }
}

TEST_F(CertificateTrustTest, TheQuestionNamesTheDeviceAndBothCertificates) {
  RecordCertificates(p, "gw:8443 " + std::string(kOtherCertificate) + "\r\n");
  p.http.openPorts = {8443};
  Fill("gw:8443", "admin", "pw");
  EXPECT_FALSE(Verify());
  ASSERT_EQ(p.ui.questions.size(), 1u);
  EXPECT_EQ(p.ui.questions[0],
            "The device at gw:8443 presents a different certificate from the one on record for "
            "it.\n\nOn record (SHA-256): " +
                std::string(kOtherCertificate) + "\nPresented (SHA-256): " + kDeviceCertificate +
                "\n\nIf the device was not replaced and its certificate not renewed, another "
                "computer may be answering in its place and would receive the "
                "credentials.\n\nLog in anyway?");
}

// Each port of a host is a device of its own; the port that answered is the
// one recorded, and a record for the other port neither helps nor hinders.
TEST_F(CertificateTrustTest, RecordedUnderThePortThatAnswered) {
  RecordCertificates(p, "gw:51443 " + std::string(kOtherCertificate) + "\r\n");
  p.http.openPorts = {443};
  EXPECT_TRUE(Verify());
  EXPECT_TRUE(p.ui.questions.empty());
  EXPECT_EQ(Record(),
            "gw:443 " + kDeviceCertificate + "\r\ngw:51443 " + kOtherCertificate + "\r\n");
}

// The login's answer came on a connection whose certificate is another than
// the one judged: the session is not taken (no further request, no logout)
// and nothing is recorded. Under "any" nothing is compared.
TEST_F(CertificateTrustTest, ACertificateThatChangesDuringTheLoginEndsIt) {
  for (const bool any : {false, true}) {
    SCOPED_TRACE(any ? "any" : "first use");
    TrustRig t;
    if (any)
      t.Settings("<CertificatePolicy mode=\"any\"/>");
    t.p.http.onRequest = [&t](const plat::HttpRequest& request) {
      if (request.url.ends_with("/LOGIN"))
        t.p.http.certificate = kOtherCertificate;
    };
    const device::Verification v = t.Verify();
    EXPECT_EQ(static_cast<bool>(v), any);
    if (!any) {
      EXPECT_EQ(v.failure.message, "The device's certificate changed during the login.");
      EXPECT_EQ(t.p.http.Paths(), (std::vector<std::string>{"GET /info.cgi", "POST /LOGIN"}));
    }
    EXPECT_EQ(t.Record(), "");
  }
}

TEST_F(CertificateTrustTest, UnknownModeIsLogged) {
  g.enableLogging = true;
  Settings("<CertificatePolicy mode=\"pinnned\"/>");
  EXPECT_TRUE(Verify());
  EXPECT_NE(LogText().find("CertificatePolicy mode \"pinnned\" is not known; first use applies."),
            std::string::npos);
}

// The record is replaced whole: written beside itself, then renamed.
TEST_F(CertificateTrustTest, ARecordThatCannotBeWrittenLeavesTheOldOneAndTheLaunchGoesOn) {
  RecordCertificates(p, "other:443 " + kDeviceCertificate + "\r\n");
  p.files.unwritable.insert(kKnownDevicesFile + ".1234.tmp");
  p.system.processId = 1234;
  EXPECT_TRUE(Verify());
  EXPECT_EQ(Record(), "other:443 " + kDeviceCertificate + "\r\n");
  EXPECT_FALSE(p.files.FileExists(kKnownDevicesFile + ".1234.tmp"));
}

TEST(NormalizeFingerprint, Spellings) {
  const std::string colons = fake::FakeHttpTransport::kDeviceCertificate;
  std::string bare = colons;
  std::erase(bare, ':');
  EXPECT_EQ(store::NormalizeFingerprint(bare), colons);
  EXPECT_EQ(store::NormalizeFingerprint(text::ToLowerAscii(colons)), colons);
  EXPECT_EQ(store::NormalizeFingerprint(" " + colons + " "), colons);
  EXPECT_EQ(store::NormalizeFingerprint(bare.substr(2)), std::nullopt);
  EXPECT_EQ(store::NormalizeFingerprint(bare + "00"), std::nullopt);
  EXPECT_EQ(store::NormalizeFingerprint("ZZ" + bare.substr(2)), std::nullopt);
}

} // namespace
