#include "device/LogIn.h"

#include "common/DeviceAddress.h"
#include "common/LaunchState.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "device/CertificateTrust.h"
#include "device/HttpClient.h"
#include "device/Json.h"
#include "device/LaunchContext.h"

#include <stdexcept>

namespace device {

namespace {

// A request whose body is to be read but that got no answer: the attempt
// fails like any other error inside it.
const plat::HttpResponse& Answered(const std::optional<plat::HttpResponse>& response) {
  if (!response)
    throw std::runtime_error("The device did not answer.");
  return *response;
}

void WriteDeveloperCopy(LaunchContext& c, const char* name, const std::string& body) {
  c.s.files.WriteFile(c.log.DeveloperFolder() + name, body + "\r\n");
}

// The device has said its last word: no other port is tried.
StepFailure DevicesFinalWord(const char* message) {
  return {Stage::Login, message, Whose::Device};
}

// The other standard port may reach a device that answers otherwise.
StepFailure OtherPortMayHelp(const char* message) {
  return {Stage::Login, message, Whose::Connection};
}

} // namespace

std::string GetLocalIP(plat::INetwork& network) {
  plat::LocalAddress local = network.LocalIPv4();
  if (!local.socketsStarted)
    return {};
  if (!local.nameResolved)
    throw std::runtime_error("The name of this computer (" + local.hostName +
                             ") does not resolve to an address.");
  return local.address;
}

void ExtractReleaseVersion(DeviceFacts& device) {
  addr::ExtractReleaseVersion(device.buildBanner, device.releaseVersion,
                              device.releaseVersionAsInt);
}

bool DeviceFacts::Complete() const {
  return !buildBanner.empty() && !schemaversion.empty() && !deviceType.empty() &&
         !hmiJREFile.empty() && !hmiLIBFile.empty();
}

LoggedIn LogIn(LaunchContext& c, const DeviceEndpoint& at, const TypedInput& typed,
               DeviceFacts start) {
  plat::Services& s = c.s;
  const int mode = typed.mode;
  LoggedIn result{std::move(start), std::nullopt, std::nullopt};
  DeviceFacts& device = result.device;

  const uint32_t startTick = s.system.TickCount();
  std::optional<plat::HttpResponse> info = c.http.Get(at.Url("info.cgi"));
  if (!info) {
    result.failure = {Stage::Connect, kUnableToConnect, Whose::Connection};
    return result;
  }
  // The information request carries no credentials: the certificate that
  // came with it is judged before anything else goes to the device.
  CertificateCheck certificate = CheckCertificate(c, at, *info);
  if (certificate.refused) {
    result.failure = std::move(*certificate.refused);
    return result;
  }
  std::string infoBody = BodyText(*info);
  c.log.LogMessage(
      "Duration=" + std::to_string(static_cast<int32_t>(s.system.TickCount() - startTick)) +
      " ticks");
  device.wanConnection = s.system.TickCount() - startTick > 1000;

  std::optional<JsonValue> infoJson = ParseJson(infoBody);
  const JsonValue* infoRoot = infoJson ? &*infoJson : nullptr;
  device.autologinEnabled = GetValue("autologin", infoRoot) == "enabled";
  device.emergencyAccessEnabled = GetValue("emergency", infoRoot) == "true";
  if (c.globals.isDeveloper)
    WriteDeveloperCopy(c, "Info.json", infoBody);

  if (mode == launch::modeAutoLogin && !device.autologinEnabled) {
    result.failure = DevicesFinalWord("Auto-login is not configured for this device.");
    return result;
  }
  if (mode == launch::modeEmergencyAccess && !device.emergencyAccessEnabled) {
    result.failure = DevicesFinalWord("Emergency access is not enabled for this device.");
    return result;
  }

  std::string userName;
  std::string password;
  if (mode == launch::modeNone) {
    userName = typed.userName;
    password = typed.password;
  } else if (mode == launch::modeEmergencyAccess) {
    password = typed.userName;
  }
  std::string loginBody = EncodeForm({{"sessID", ""},
                                      {"credential_0", userName},
                                      {"credential_1", password},
                                      {"credential_2", GetLocalIP(s.network)},
                                      {"destination", "/"}});
  s.ui.SetBusyCursor(true);
  std::optional<plat::HttpResponse> login =
      c.http.Post(at.Url("LOGIN"), kFormContentType, loginBody);
  if (!login) {
    result.failure = DevicesFinalWord("Unable to connect to device at specified address.");
    return result;
  }
  if (login->status != 200) {
    result.failure = OtherPortMayHelp("The credentials provided are incorrect for this device.");
    return result;
  }
  // WinHTTP opens a new connection when the device closed the one the
  // information came on, and that one's certificate was not judged. The
  // credentials are gone then, but the session is not taken, so nothing
  // more goes there and the certificate is not recorded.
  if (!certificate.taken.empty() && login->certificateSha256 != certificate.taken) {
    result.failure = DevicesFinalWord("The device's certificate changed during the login.");
    return result;
  }
  RememberCertificate(c, at, certificate.toRemember);
  device.sessionToken = GetCookieValueByName(c.http, kSessionCookieName);
  DeviceSession& session = result.session.emplace(c.http, at, device.sessionToken);

  std::string extBody = BodyText(Answered(session.Get("cgi-bin/infoExt.cgi")));
  if (c.globals.isDeveloper)
    WriteDeveloperCopy(c, "InfoExt.json", extBody);
  std::optional<JsonValue> ext = ParseJson(extBody);
  const JsonValue* extRoot = ext ? &*ext : nullptr;

  device.buildBanner = GetValue("build_version", extRoot);
  device.schemaversion = GetValue("schema_version", extRoot);
  ExtractReleaseVersion(device);

  device.deviceType = text::FirstChars(GetValue("hw_model", extRoot), 4);
  if (!text::EqualsIgnoreCase(device.deviceType, "Q614") &&
      !text::EqualsIgnoreCase(device.deviceType, "Q627")) {
    result.failure = DevicesFinalWord("The device at this host is not a Veltra device.");
    return result;
  }
  device.hmiJREFile = GetValue("hmi_jre", extRoot);
  device.hmiLIBFile = GetValue("hmi_lib", extRoot);

  std::string dynamicHmi = GetValue("dynamic_hmi_enabled", extRoot);
  device.hmiEnabled = dynamicHmi.empty() ? true : text::ToBool(dynamicHmi);
  if (!device.hmiEnabled)
    result.failure =
        OtherPortMayHelp("Remote dynamic HMI functionality is not enabled on this device.");
  return result;
}

} // namespace device
