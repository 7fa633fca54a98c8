#include "device/DeviceSession.h"

#include "common/Text.h"
#include "device/HttpClient.h"
#include "device/Json.h"
#include "launcher/LoginForm.h"

#include <stdexcept>

namespace device {

using launcher::TLoginForm;
using plat::ControlId;

namespace {

constexpr const char* kUnableToConnect = "Unable to connect to a device at the specified address.";

// A request whose body is to be read but that got no answer: the attempt
// fails like any other error inside it.
const plat::HttpResponse& Answered(const std::optional<plat::HttpResponse>& response) {
  if (!response)
    throw std::runtime_error("The device did not answer.");
  return *response;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void WriteDeveloperCopy(TLoginForm& form, const char* name, const std::string& body) {
  form.Services().files.WriteFile(DirectoryOf(form.Services().system.ExecutablePath()) + name,
                                  body + "\r\n");
}

} // namespace

std::string ExtractHost(const std::string& hostText) {
  return hostText.substr(0, hostText.find(':'));
}

int32_t ExtractPort(const std::string& hostText) {
  size_t colon = hostText.find(':');
  if (colon == std::string::npos)
    return 443;
  return text::ToInt32(hostText.substr(colon + 1));
}

std::string DeviceAddress(const std::string& hostText, int32_t port, const std::string& path) {
  if (hostText.find(':') != std::string::npos)
    return "https://" + hostText + "/" + path;
  return "https://" + hostText + ":" + std::to_string(port) + "/" + path;
}

std::string GetCookieValueByName(TLoginForm& form, const std::string& cookieName) {
  for (const CookieStore::Cookie& c : form.NetHTTPClient().Cookies().Cookies())
    if (c.name == cookieName)
      return c.value;
  return {};
}

std::string GetLocalIP(TLoginForm& form) {
  plat::LocalAddress local = form.Services().network.LocalIPv4();
  if (!local.socketsStarted)
    return {};
  if (!local.nameResolved)
    throw std::runtime_error("The name of this computer (" + local.hostName +
                             ") does not resolve to an address.");
  return local.address;
}

bool DownLoadFile(TLoginForm& form, const std::string& remotePath, const std::string& localPath,
                  int32_t port) {
  plat::IFileSystem& files = form.Services().files;
  std::string body;
  std::string contentType = MakeMultipart("file", remotePath, body);
  std::string url =
      DeviceAddress(form.View().Text(ControlId::edtHost), port, "cgi-bin/ReadBinaryFile.cgi");
  const std::string partial = localPath + ".part";
  try {
    std::optional<plat::HttpResponse> response =
        form.NetHTTPClient().Post(url, contentType, body, partial);
    if (response && response->status == 200 && response->complete) {
      files.MoveFile(partial, localPath);
      return true;
    }
  } catch (const std::exception&) {
    // Falls through to the clean-up: a read that failed is just "false".
  }
  try {
    if (files.FileExists(partial))
      files.DeleteFile(partial);
  } catch (const std::exception&) {
  }
  return false;
}

bool Logout(TLoginForm& form, int32_t port, bool portSpecified) {
  std::string hostText = form.View().Text(ControlId::edtHost);
  std::string url = portSpecified ? "https://" + hostText + "/LOGOUT"
                                  : "https://" + hostText + ":" + std::to_string(port) + "/LOGOUT";
  std::optional<plat::HttpResponse> response = form.NetHTTPClient().Post(url, kFormContentType, "");
  return response && response->status == 200;
}

void ExtractReleaseVersion(TLoginForm& form) {
  form.releaseVersion.clear();
  bool marked = false;
  for (const std::string& word : text::Split(form.buildBanner, ' ')) {
    if (text::EqualsIgnoreCase(word, "Release")) {
      marked = true;
      continue;
    }
    if (!marked)
      continue;
    std::string releaseWord = text::Trim(word);
    form.releaseVersionAsInt = text::ToInt32(releaseWord);
    size_t cut = releaseWord.size() >= 2 ? releaseWord.size() - 2 : 0;
    form.releaseVersion = "v" + releaseWord.substr(0, cut) + "." + releaseWord.substr(cut);
    return;
  }
}

bool VerifyCredentials(TLoginForm& form, std::string& errorMessage) {
  plat::IFormView& view = form.View();
  plat::Services& s = form.Services();
  launcher::LauncherGlobals& g = form.Globals();

  errorMessage.clear();
  bool result = true;

  // Input checks, on the texts without surrounding blanks and control codes.
  const int mode = view.ItemIndex();
  if (text::Trim(view.Text(ControlId::edtHost)).empty()) {
    errorMessage = "Please specify an IP address";
    return false;
  }
  if (text::Trim(view.Text(ControlId::edtUserName)).empty() && mode != launcher::modeAutoLogin) {
    errorMessage = mode == launcher::modeEmergencyAccess ? "Please specify an emergency access code"
                                                         : "Please specify a user name";
    return false;
  }
  if (text::Trim(view.Text(ControlId::edtPassword)).empty() && mode == launcher::modeNone) {
    errorMessage = "Please specify a password";
    return false;
  }

  int32_t iPort = kSecondPort;
  bool bPortSpecified = view.Text(ControlId::edtHost).find(':') != std::string::npos;
  const int iMaxIndex = bPortSpecified ? 1 : 2;

  for (int attempt = 1; attempt <= iMaxIndex; ++attempt) {
    result = true;
    try {
      const std::string hostText = view.Text(ControlId::edtHost);
      const uint32_t startTick = s.system.TickCount();
      std::string infoUrl;
      if (bPortSpecified) {
        iPort = ExtractPort(hostText);
        infoUrl = "https://" + hostText + "/info.cgi";
      } else {
        iPort = attempt == 1 ? kFirstPort : kSecondPort;
        infoUrl = "https://" + hostText + ":" + std::to_string(iPort) + "/info.cgi";
      }

      std::string infoBody = BodyText(Answered(form.NetHTTPClient().Get(infoUrl)));
      form.Log().LogMessage(
          "Duration=" + std::to_string(static_cast<int32_t>(s.system.TickCount() - startTick)) +
          " ticks");
      form.wanConnection = s.system.TickCount() - startTick > 1000;

      std::optional<JsonValue> info = ParseJson(infoBody);
      const JsonValue* infoRoot = info ? &*info : nullptr;
      form.autologinEnabled = GetValue("autologin", infoRoot) == "enabled";
      form.emergencyAccessEnabled = GetValue("emergency", infoRoot) == "true";
      if (g.isDeveloper)
        WriteDeveloperCopy(form, "Info.json", infoBody);

      if (mode == launcher::modeAutoLogin && !form.autologinEnabled) {
        errorMessage = "Auto-login is not configured for this device.";
        result = false;
        break;
      }
      if (mode == launcher::modeEmergencyAccess && !form.emergencyAccessEnabled) {
        errorMessage = "Emergency access is not enabled for this device.";
        result = false;
        break;
      }

      std::string userName;
      std::string password;
      if (mode == launcher::modeNone) {
        userName = view.Text(ControlId::edtUserName);
        password = view.Text(ControlId::edtPassword);
      } else if (mode == launcher::modeEmergencyAccess) {
        password = view.Text(ControlId::edtUserName);
      }

      auto address = [&](const char* path) {
        return bPortSpecified ? "https://" + hostText + "/" + path
                              : "https://" + hostText + ":" + std::to_string(iPort) + "/" + path;
      };

      std::string loginBody = EncodeForm({{"sessID", ""},
                                          {"credential_0", userName},
                                          {"credential_1", password},
                                          {"credential_2", GetLocalIP(form)},
                                          {"destination", "/"}});
      s.ui.SetBusyCursor(true);
      std::optional<plat::HttpResponse> login =
          form.NetHTTPClient().Post(address("LOGIN"), kFormContentType, loginBody);
      if (!login) {
        errorMessage = "Unable to connect to device at specified address.";
        result = false;
        break;
      }
      if (login->status != 200) {
        errorMessage = "The credentials provided are incorrect for this device.";
        result = false;
        continue;
      }
      form.sessionToken = GetCookieValueByName(form, kSessionCookieName);
      form.logoutRequired = true;

      std::string extBody =
          BodyText(Answered(form.NetHTTPClient().Get(address("cgi-bin/infoExt.cgi"))));
      if (g.isDeveloper)
        WriteDeveloperCopy(form, "InfoExt.json", extBody);
      std::optional<JsonValue> ext = ParseJson(extBody);
      const JsonValue* extRoot = ext ? &*ext : nullptr;

      form.buildBanner = GetValue("build_version", extRoot);
      form.schemaversion = GetValue("schema_version", extRoot);
      ExtractReleaseVersion(form);

      form.deviceType = text::FirstChars(GetValue("hw_model", extRoot), 4);
      if (!text::EqualsIgnoreCase(form.deviceType, "Q614") &&
          !text::EqualsIgnoreCase(form.deviceType, "Q627")) {
        errorMessage = "The device at this host is not a Veltra device.";
        result = false;
        break;
      }
      form.hmiJREFile = GetValue("hmi_jre", extRoot);
      form.hmiLIBFile = GetValue("hmi_lib", extRoot);

      std::string dynamicHmi = GetValue("dynamic_hmi_enabled", extRoot);
      g.hmiEnabled = dynamicHmi.empty() ? true : text::ToBool(dynamicHmi);
      if (!g.hmiEnabled) {
        errorMessage = "Remote dynamic HMI functionality is not enabled on this device.";
        result = false;
        continue;
      }
      bool complete = !form.buildBanner.empty() && !form.schemaversion.empty() &&
                      !form.deviceType.empty() && !form.hmiJREFile.empty() &&
                      !form.hmiLIBFile.empty();
      if (complete && g.enableDownload)
        result = form.RunDownloadBranch(iPort, errorMessage);
      else
        result = form.RunPackageBranch(errorMessage);
    } catch (const std::exception&) {
      errorMessage = kUnableToConnect;
      result = false;
    }
    if (result) {
      if (!bPortSpecified) {
        view.SetText(ControlId::edtHost,
                     view.Text(ControlId::edtHost) + ":" + std::to_string(iPort));
        bPortSpecified = true;
      }
      break;
    }
  }

  // End step: after every attempt, also after a stop.
  if (form.logoutRequired &&
      (view.ItemIndex() != launcher::modeEmergencyAccess || form.releaseVersionAsInt < 410))
    Logout(form, iPort, bPortSpecified);
  view.SetText(ControlId::statusBar, "");
  s.ui.SetBusyCursor(false);
  if (result && view.ItemIndex() == launcher::modeEmergencyAccess && form.releaseVersionAsInt < 410)
    s.ui.ShowMessage(plat::MessageKind::Confirmation,
                     "Please generate a new emergency access code and press Enter when it is "
                     "available.");
  return result;
}

} // namespace device
