#include "device/DeviceSession.h"

#include "common/DeviceAddress.h"
#include "common/Paths.h"
#include "common/Progress.h"
#include "common/Text.h"
#include "device/HttpClient.h"
#include "device/ImageDownload.h"
#include "device/Json.h"
#include "store/PackageImport.h"

#include <memory>
#include <stdexcept>

namespace device {

using addr::DeviceAddress;
using addr::DeviceUrl;

namespace {

constexpr const char* kUnableToConnect = "Unable to connect to a device at the specified address.";

// A request whose body is to be read but that got no answer: the attempt
// fails like any other error inside it.
const plat::HttpResponse& Answered(const std::optional<plat::HttpResponse>& response) {
  if (!response)
    throw std::runtime_error("The device did not answer.");
  return *response;
}

void WriteDeveloperCopy(plat::Services& s, const char* name, const std::string& body) {
  s.files.WriteFile(paths::FolderOf(s.system.ExecutablePath()) + name, body + "\r\n");
}

// Developer-log lines of the download and the lock: they must never turn a
// launch into a failure of their own.
void LogQuietly(LaunchContext& c, const std::string& line) {
  try {
    c.log.LogMessage(line);
  } catch (const std::exception&) {
  }
}

// The part file of this process for `localPath`: "<file>.<pid>.<n>.part".
// Another launcher fetching the same archive writes a name of its own, so
// neither finds the other's file open; a name left by an earlier process of
// the same id is passed over rather than taken.
std::string PartFileFor(plat::Services& s, const std::string& localPath) {
  const std::string stem = localPath + "." + std::to_string(s.system.ProcessId()) + ".";
  for (int n = 0; n < 1000; ++n) {
    std::string candidate = stem + std::to_string(n) + ".part";
    if (!s.files.FileExists(candidate) && !s.files.DirectoryExists(candidate))
      return candidate;
  }
  throw plat::PlatformError("No free name for a part file of " + localPath);
}

} // namespace

std::string GetCookieValueByName(THttpClient& http, const std::string& cookieName) {
  for (const CookieStore::Cookie& c : http.Cookies().Cookies())
    if (c.name == cookieName)
      return c.value;
  return {};
}

std::string GetLocalIP(plat::INetwork& network) {
  plat::LocalAddress local = network.LocalIPv4();
  if (!local.socketsStarted)
    return {};
  if (!local.nameResolved)
    throw std::runtime_error("The name of this computer (" + local.hostName +
                             ") does not resolve to an address.");
  return local.address;
}

bool DownLoadFile(LaunchContext& c, const std::string& remotePath, const std::string& localPath,
                  int32_t port) {
  plat::IFileSystem& files = c.s.files;
  std::string body;
  std::string contentType = MakeMultipart("file", remotePath, body);
  std::string url = DeviceAddress(c.view.HostText(), port, "cgi-bin/ReadBinaryFile.cgi");
  std::string partial;
  std::string why;
  try {
    // The part file is made here, before anything is asked of the device:
    // a file that cannot be made (the cache folder being a file, a name too
    // long) is this machine's failure. Left to the transport, it would end
    // the request before sending and be taken for the device's, and the
    // session would not be logged out.
    partial = PartFileFor(c.s, localPath);
    files.WriteFile(partial, "");
  } catch (const std::exception& e) {
    LogQuietly(c, "Reading " + remotePath + " failed: the file " + localPath +
                      " cannot be written here: " + e.what());
    return false;
  }
  try {
    launch::ProgressDisplay progress(c.view, c.s.system);
    std::optional<plat::HttpResponse> response =
        c.http.PostForFile(url, contentType, body, partial, [&](const plat::TransferProgress& p) {
          progress.Bytes(p.received, p.total);
        });
    if (response && response->status == 200 && response->complete) {
      // A rename in one folder: the archive is replaced whole or not at all,
      // even when another launcher put one there meanwhile.
      files.MoveFile(partial, localPath);
      return true;
    }
    why = !response                 ? "no answer"
          : response->status != 200 ? "status " + std::to_string(response->status)
                                    : "the answer ended early";
  } catch (const std::exception& e) {
    why = e.what();
  }
  try {
    if (files.FileExists(partial))
      files.DeleteFile(partial);
  } catch (const std::exception&) {
  }
  // The reason stays in the developer log; the operator sees the branch's
  // own message. The path and the reason hold no secret.
  LogQuietly(c, "Reading " + remotePath + " failed: " + why);
  return false;
}

bool Logout(THttpClient& http, const std::string& hostText, int32_t port, bool portSpecified) {
  std::optional<plat::HttpResponse> response =
      http.Post(DeviceUrl(hostText, portSpecified, port, "LOGOUT"), kFormContentType, "");
  return response && response->status == 200;
}

void ExtractReleaseVersion(launch::LoginFormState& state) {
  addr::ExtractReleaseVersion(state.buildBanner, state.releaseVersion, state.releaseVersionAsInt);
}

bool VerifyCredentials(LaunchContext& c, std::string& errorMessage) {
  launch::ILaunchView& view = c.view;
  plat::Services& s = c.s;
  launch::LauncherGlobals& g = c.globals;
  launch::LoginFormState& state = c.state;

  errorMessage.clear();
  bool result = true;

  // Input checks, on the texts without surrounding blanks and control codes.
  const int mode = view.SelectedMode();
  if (text::Trim(view.HostText()).empty()) {
    errorMessage = "Please specify an IP address";
    return false;
  }
  if (text::Trim(view.UserNameText()).empty() && mode != launch::modeAutoLogin) {
    errorMessage = mode == launch::modeEmergencyAccess ? "Please specify an emergency access code"
                                                       : "Please specify a user name";
    return false;
  }
  if (text::Trim(view.PasswordText()).empty() && mode == launch::modeNone) {
    errorMessage = "Please specify a password";
    return false;
  }

  int32_t iPort = kSecondPort;
  bool bPortSpecified = view.HostText().find(':') != std::string::npos;
  const int iMaxIndex = bPortSpecified ? 1 : 2;

  for (int attempt = 1; attempt <= iMaxIndex; ++attempt) {
    result = true;
    try {
      const std::string hostText = view.HostText();
      const uint32_t startTick = s.system.TickCount();
      if (bPortSpecified)
        iPort = addr::ExtractPort(hostText);
      else
        iPort = attempt == 1 ? kFirstPort : kSecondPort;
      auto address = [&](const char* path) {
        return DeviceUrl(hostText, bPortSpecified, iPort, path);
      };

      std::string infoBody = BodyText(Answered(c.http.Get(address("info.cgi"))));
      c.log.LogMessage(
          "Duration=" + std::to_string(static_cast<int32_t>(s.system.TickCount() - startTick)) +
          " ticks");
      state.wanConnection = s.system.TickCount() - startTick > 1000;

      std::optional<JsonValue> info = ParseJson(infoBody);
      const JsonValue* infoRoot = info ? &*info : nullptr;
      state.autologinEnabled = GetValue("autologin", infoRoot) == "enabled";
      state.emergencyAccessEnabled = GetValue("emergency", infoRoot) == "true";
      if (g.isDeveloper)
        WriteDeveloperCopy(s, "Info.json", infoBody);

      if (mode == launch::modeAutoLogin && !state.autologinEnabled) {
        errorMessage = "Auto-login is not configured for this device.";
        result = false;
        break;
      }
      if (mode == launch::modeEmergencyAccess && !state.emergencyAccessEnabled) {
        errorMessage = "Emergency access is not enabled for this device.";
        result = false;
        break;
      }

      std::string userName;
      std::string password;
      if (mode == launch::modeNone) {
        userName = view.UserNameText();
        password = view.PasswordText();
      } else if (mode == launch::modeEmergencyAccess) {
        password = view.UserNameText();
      }

      std::string loginBody = EncodeForm({{"sessID", ""},
                                          {"credential_0", userName},
                                          {"credential_1", password},
                                          {"credential_2", GetLocalIP(s.network)},
                                          {"destination", "/"}});
      s.ui.SetBusyCursor(true);
      std::optional<plat::HttpResponse> login =
          c.http.Post(address("LOGIN"), kFormContentType, loginBody);
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
      state.sessionToken = GetCookieValueByName(c.http, kSessionCookieName);
      state.logoutRequired = true;

      std::string extBody = BodyText(Answered(c.http.Get(address("cgi-bin/infoExt.cgi"))));
      if (g.isDeveloper)
        WriteDeveloperCopy(s, "InfoExt.json", extBody);
      std::optional<JsonValue> ext = ParseJson(extBody);
      const JsonValue* extRoot = ext ? &*ext : nullptr;

      state.buildBanner = GetValue("build_version", extRoot);
      state.schemaversion = GetValue("schema_version", extRoot);
      ExtractReleaseVersion(state);

      state.deviceType = text::FirstChars(GetValue("hw_model", extRoot), 4);
      if (!text::EqualsIgnoreCase(state.deviceType, "Q614") &&
          !text::EqualsIgnoreCase(state.deviceType, "Q627")) {
        errorMessage = "The device at this host is not a Veltra device.";
        result = false;
        break;
      }
      state.hmiJREFile = GetValue("hmi_jre", extRoot);
      state.hmiLIBFile = GetValue("hmi_lib", extRoot);

      std::string dynamicHmi = GetValue("dynamic_hmi_enabled", extRoot);
      g.hmiEnabled = dynamicHmi.empty() ? true : text::ToBool(dynamicHmi);
      if (!g.hmiEnabled) {
        errorMessage = "Remote dynamic HMI functionality is not enabled on this device.";
        result = false;
        continue;
      }
      bool complete = !state.buildBanner.empty() && !state.schemaversion.empty() &&
                      !state.deviceType.empty() && !state.hmiJREFile.empty() &&
                      !state.hmiLIBFile.empty();
      // Either branch fills the cache that every launcher of the machine
      // shares: one at a time.
      std::unique_ptr<plat::NamedLock> imagesLock = store::LockRuntimeImages(
          c.s, c.view, [&](const std::string& why) { LogQuietly(c, why); });
      if (complete && g.enableDownload)
        result = c.downloadBranch ? c.downloadBranch(iPort, errorMessage)
                                  : DownloadRuntimeImages(c, iPort, errorMessage);
      else if (c.packageBranch)
        result = c.packageBranch(errorMessage);
      else {
        store::StoreContext store = c.Store();
        result = store::ProvideImagesFromPackage(store, state, g, errorMessage);
      }
    } catch (const std::exception&) {
      errorMessage = kUnableToConnect;
      result = false;
    }
    if (result) {
      if (!bPortSpecified) {
        view.SetHostText(view.HostText() + ":" + std::to_string(iPort));
        bPortSpecified = true;
      }
      break;
    }
  }

  // End step: after every attempt, also after a stop.
  if (state.logoutRequired &&
      (view.SelectedMode() != launch::modeEmergencyAccess || state.releaseVersionAsInt < 410))
    Logout(c.http, view.HostText(), iPort, bPortSpecified);
  view.SetStatusText("");
  s.ui.SetBusyCursor(false);
  if (result && view.SelectedMode() == launch::modeEmergencyAccess &&
      state.releaseVersionAsInt < 410)
    s.ui.ShowMessage(plat::MessageKind::Confirmation,
                     "Please generate a new emergency access code and press Enter when it is "
                     "available.");
  return result;
}

} // namespace device
