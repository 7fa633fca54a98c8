// A device behind the fake HTTPS transport, answering like the real one:
// information, login with the session cookie, extended information, logout.
#pragma once

#include "device/DeviceSession.h"
#include "platform/fake/FakePlatform.h"

#include <map>
#include <optional>
#include <string>

namespace testsupport {

struct FakeDevice {
  std::string autologin = "disabled";
  std::string emergency = "false";
  std::string user = "admin", password = "pw";
  std::string emergencyCode = "EC-1";
  std::optional<int> loginStatus; // forced
  std::string token = "tok-1";
  // Extended information members; "__missing__" leaves one out.
  std::map<std::string, std::string> ext = {{"build_version", "\"Build 12 Release 410 x\""},
                                            {"schema_version", "\"7\""},
                                            {"hw_model", "\"Q614-B\""},
                                            {"hmi_jre", "\"jre_v_17.0.2.zip\""},
                                            {"hmi_lib", "\"lib_hmi_full_410_7_r.zip\""}};
  std::optional<std::string> extRaw, infoRaw;
  int logouts = 0;

  void Install(fake::FakeHttpTransport& http) {
    using plat::HttpRequest;
    using R = std::optional<plat::HttpResponse>;
    http.routes["GET /info.cgi"] = [this](const HttpRequest&, std::string&) -> R {
      return fake::FakeHttpTransport::Answer(
          200, infoRaw ? *infoRaw
                       : R"({"autologin":")" + autologin + R"(","emergency":)" + emergency + "}");
    };
    http.routes["POST /LOGIN"] = [this](const HttpRequest& r, std::string&) -> R {
      bool good =
          r.body == "sessID=&credential_0=" + user + "&credential_1=" + password +
                        "&credential_2=192.0.2.10&destination=%2F" ||
          (autologin == "enabled" &&
           r.body == "sessID=&credential_0=&credential_1=&credential_2=192.0.2.10&"
                     "destination=%2F") ||
          (emergency == "true" && r.body == "sessID=&credential_0=&credential_1=" + emergencyCode +
                                                "&credential_2=192.0.2.10&destination=%2F");
      int status = loginStatus ? *loginStatus : (good ? 200 : 401);
      plat::HeaderList headers;
      if (status == 200)
        headers.emplace_back("Set-Cookie", std::string(device::kSessionCookieName) + "=" + token +
                                               "; path=/; Secure; HttpOnly");
      return fake::FakeHttpTransport::Answer(status, "", headers);
    };
    http.routes["GET /cgi-bin/infoExt.cgi"] = [this](const HttpRequest&, std::string&) -> R {
      if (extRaw)
        return fake::FakeHttpTransport::Answer(200, *extRaw);
      std::string body = "{";
      for (const auto& [k, v] : ext)
        if (v != "__missing__")
          body += (body.size() > 1 ? "," : "") + ("\"" + k + "\":" + v);
      return fake::FakeHttpTransport::Answer(200, body + "}");
    };
    http.routes["POST /LOGOUT"] = [this](const HttpRequest&, std::string&) -> R {
      ++logouts;
      return fake::FakeHttpTransport::Answer(200, "");
    };
  }
};

// Where this user's launcher records the certificates of the devices it met,
// on the fakes.
inline const std::string kKnownDevicesFile =
    "C:\\Users\\op\\AppData\\Local\\Veltra Dynamic Remote HMI\\KnownDevices.txt";

// A second certificate, as a replaced device (or one answering in its place)
// would present.
inline constexpr const char* kOtherCertificate = "C0:FF:EE:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:"
                                                 "DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC";

// The record as an earlier launch would have left it.
inline void RecordCertificates(fake::FakePlatform& p, const std::string& lines) {
  p.files.CreateDirectories(kKnownDevicesFile.substr(0, kKnownDevicesFile.rfind('\\')));
  p.files.WriteFile(kKnownDevicesFile, lines);
}

} // namespace testsupport
