#include "device/DeviceSession.h"

#include "common/DeviceAddress.h"
#include "common/Paths.h"
#include "common/Progress.h"
#include "common/ReleaseRules.h"
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
constexpr const char* kCannotStore = "This computer could not store the runtime images: ";

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
    std::optional<plat::HttpResponse> response = c.http.PostForFile(
        url, contentType, body, partial,
        [&](const plat::TransferProgress& p) { progress.Bytes(p.received, p.total); },
        &c.view.Stop());
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

void ExtractReleaseVersion(DeviceFacts& device) {
  addr::ExtractReleaseVersion(device.buildBanner, device.releaseVersion,
                              device.releaseVersionAsInt);
}

bool DeviceFacts::Complete() const {
  return !buildBanner.empty() && !schemaversion.empty() && !deviceType.empty() &&
         !hmiJREFile.empty() && !hmiLIBFile.empty();
}

std::string DeviceEndpoint::Url(const char* path) const {
  return DeviceUrl(hostText, portSpecified, port, path);
}

DeviceSession::DeviceSession(THttpClient& http, DeviceEndpoint endpoint, std::string token)
    : http_(&http), endpoint_(std::move(endpoint)), token_(std::move(token)) {}

DeviceSession::DeviceSession(DeviceSession&& other) noexcept
    : http_(other.http_), endpoint_(std::move(other.endpoint_)), token_(std::move(other.token_)),
      open_(other.open_) {
  other.open_ = false;
}

DeviceSession& DeviceSession::operator=(DeviceSession&& other) noexcept {
  if (this != &other) {
    EndQuietly();
    http_ = other.http_;
    endpoint_ = std::move(other.endpoint_);
    token_ = std::move(other.token_);
    open_ = other.open_;
    other.open_ = false;
  }
  return *this;
}

DeviceSession::~DeviceSession() {
  EndQuietly();
}

void DeviceSession::EndQuietly() noexcept {
  try {
    End();
  } catch (...) {
    // A logout that fails on this machine leaves the device to end the
    // session by its own time-out.
  }
}

std::optional<plat::HttpResponse> DeviceSession::Get(const char* path) {
  std::optional<plat::HttpResponse> response = http_->Get(endpoint_.Url(path));
  if (!response)
    DeviceGone();
  return response;
}

void DeviceSession::End() {
  if (!open_)
    return;
  open_ = false;
  Logout(*http_, endpoint_.hostText, endpoint_.port, endpoint_.portSpecified);
}

namespace {

// What the operator typed that cannot even be tried.
std::optional<std::string> CheckInput(launch::ILaunchView& view) {
  // On the texts without surrounding blanks and control codes.
  const int mode = view.SelectedMode();
  if (text::Trim(view.HostText()).empty())
    return "Please specify an IP address";
  if (text::Trim(view.UserNameText()).empty() && mode != launch::modeAutoLogin)
    return mode == launch::modeEmergencyAccess ? "Please specify an emergency access code"
                                               : "Please specify a user name";
  if (text::Trim(view.PasswordText()).empty() && mode == launch::modeNone)
    return "Please specify a password";
  return std::nullopt;
}

// The first stage of an attempt: what the device says about itself, and the
// session of a successful login.
struct LoggedIn {
  DeviceFacts device;
  std::optional<DeviceSession> session;
  std::optional<StepFailure> failure;
};

StepFailure Stop(const char* message) {
  return {Stage::Login, message, false};
}

StepFailure NextPortMayHelp(const char* message) {
  return {Stage::Login, message, true};
}

LoggedIn LogIn(LaunchContext& c, const DeviceEndpoint& at, DeviceFacts start) {
  plat::Services& s = c.s;
  launch::ILaunchView& view = c.view;
  const int mode = view.SelectedMode();
  LoggedIn result{std::move(start), std::nullopt, std::nullopt};
  DeviceFacts& device = result.device;

  const uint32_t startTick = s.system.TickCount();
  std::string infoBody = BodyText(Answered(c.http.Get(at.Url("info.cgi"))));
  c.log.LogMessage(
      "Duration=" + std::to_string(static_cast<int32_t>(s.system.TickCount() - startTick)) +
      " ticks");
  device.wanConnection = s.system.TickCount() - startTick > 1000;

  std::optional<JsonValue> info = ParseJson(infoBody);
  const JsonValue* infoRoot = info ? &*info : nullptr;
  device.autologinEnabled = GetValue("autologin", infoRoot) == "enabled";
  device.emergencyAccessEnabled = GetValue("emergency", infoRoot) == "true";
  if (c.globals.isDeveloper)
    WriteDeveloperCopy(s, "Info.json", infoBody);

  if (mode == launch::modeAutoLogin && !device.autologinEnabled) {
    result.failure = Stop("Auto-login is not configured for this device.");
    return result;
  }
  if (mode == launch::modeEmergencyAccess && !device.emergencyAccessEnabled) {
    result.failure = Stop("Emergency access is not enabled for this device.");
    return result;
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
      c.http.Post(at.Url("LOGIN"), kFormContentType, loginBody);
  if (!login) {
    result.failure = Stop("Unable to connect to device at specified address.");
    return result;
  }
  if (login->status != 200) {
    result.failure = NextPortMayHelp("The credentials provided are incorrect for this device.");
    return result;
  }
  device.sessionToken = GetCookieValueByName(c.http, kSessionCookieName);
  DeviceSession& session = result.session.emplace(c.http, at, device.sessionToken);

  std::string extBody = BodyText(Answered(session.Get("cgi-bin/infoExt.cgi")));
  if (c.globals.isDeveloper)
    WriteDeveloperCopy(s, "InfoExt.json", extBody);
  std::optional<JsonValue> ext = ParseJson(extBody);
  const JsonValue* extRoot = ext ? &*ext : nullptr;

  device.buildBanner = GetValue("build_version", extRoot);
  device.schemaversion = GetValue("schema_version", extRoot);
  ExtractReleaseVersion(device);

  device.deviceType = text::FirstChars(GetValue("hw_model", extRoot), 4);
  if (!text::EqualsIgnoreCase(device.deviceType, "Q614") &&
      !text::EqualsIgnoreCase(device.deviceType, "Q627")) {
    result.failure = Stop("The device at this host is not a Veltra device.");
    return result;
  }
  device.hmiJREFile = GetValue("hmi_jre", extRoot);
  device.hmiLIBFile = GetValue("hmi_lib", extRoot);

  std::string dynamicHmi = GetValue("dynamic_hmi_enabled", extRoot);
  device.hmiEnabled = dynamicHmi.empty() ? true : text::ToBool(dynamicHmi);
  if (!device.hmiEnabled)
    result.failure =
        NextPortMayHelp("Remote dynamic HMI functionality is not enabled on this device.");
  return result;
}

// The second stage: the images, by the branch the device's values call for,
// one launcher of the machine at a time. A failure of this machine (no room,
// a write refused) is not the device's: it is told in its own words, and
// another port would not help.
Provisioned ProvideImages(LaunchContext& c, const DeviceFacts& device, DeviceSession& session) {
  std::unique_ptr<plat::NamedLock> imagesLock =
      store::LockRuntimeImages(c.s, c.view, [&](const std::string& why) { LogQuietly(c, why); });
  ImageSource& source = device.Complete() && c.globals.enableDownload ? c.download : c.package;
  try {
    return source.Provide(c, device, session);
  } catch (const plat::PlatformError& e) {
    return {std::nullopt, std::string(kCannotStore) + e.what(), true};
  }
}

// The package branch: the device's package, from the cache or the package
// folder. It reads nothing from the device.
class PackageBranch : public ImageSource {
public:
  Provisioned Provide(LaunchContext& c, const DeviceFacts& device, DeviceSession&) override {
    store::StoreContext store = c.Store();
    store::PackageImages found;
    Provisioned result;
    if (store::ProvideImagesFromPackage(
            store, {device.deviceType, device.releaseVersion, device.releaseVersionAsInt},
            c.globals, found, result.message))
      result.images = RuntimeImages{found.jreImageFolder, found.libImageFolder, false, "", ""};
    return result;
  }
};

// One attempt on one port: log in, then provide the images. An error inside
// it (no answer where a body is read, a port that is not a number, an answer
// that cannot be read) fails the attempt as the connection's.
struct Attempt {
  std::optional<RuntimeImages> images;
  StepFailure failure;
  DeviceFacts device;
};

Attempt TryPort(LaunchContext& c, DeviceEndpoint& at, int attempt,
                std::optional<DeviceSession>& session) {
  Attempt result;
  result.device.releaseVersionAsInt = c.last.releaseVersionAsInt;
  Stage reached = Stage::Login;
  try {
    at.port = at.portSpecified ? addr::ExtractPort(at.hostText)
                               : (attempt == 1 ? kFirstPort : kSecondPort);
    LoggedIn login = LogIn(c, at, result.device);
    result.device = std::move(login.device);
    session = std::move(login.session);
    if (login.failure) {
      result.failure = *login.failure;
      return result;
    }
    reached = Stage::Provisioning;
    if (c.view.StopRequested())
      throw plat::Stopped();
    Provisioned provided = ProvideImages(c, result.device, *session);
    if (!provided.images) {
      result.failure = {Stage::Provisioning, provided.message, !provided.stop};
      return result;
    }
    result.images = std::move(provided.images);
  } catch (const std::exception&) {
    result.failure = {reached, kUnableToConnect, true};
  }
  return result;
}

} // namespace

ImageSource& ImagesFromPackage() {
  static PackageBranch branch;
  return branch;
}

Verification VerifyCredentials(LaunchContext& c) {
  launch::ILaunchView& view = c.view;
  Verification verification;
  if (std::optional<std::string> refusal = CheckInput(view)) {
    verification.failure = {Stage::Input, *refusal, false};
    return verification;
  }

  DeviceEndpoint at{view.HostText(), kSecondPort, view.HostText().find(':') != std::string::npos};
  const int attempts = at.portSpecified ? 1 : 2;
  std::optional<DeviceSession> session;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    // The session of a failed attempt ends before the next login.
    session.reset();
    Attempt tried = TryPort(c, at, attempt, session);
    if (tried.images) {
      if (!at.portSpecified)
        view.SetHostText(view.HostText() + ":" + std::to_string(at.port));
      verification.verified =
          Verified{std::move(tried.device), std::move(*tried.images), view.HostText(), false};
      break;
    }
    verification.failure = std::move(tried.failure);
    // Closed meanwhile: no other port is tried.
    if (!verification.failure.nextPortMayHelp || view.StopRequested())
      break;
  }
  // Closed meanwhile: even images that came in time are not used, and the
  // session is logged out, not left to an HMI that will not start.
  const bool stopped = view.StopRequested();
  if (stopped && verification) {
    verification.verified.reset();
    verification.failure = {Stage::Provisioning, "", false};
  }

  // End step, after a stop as well. In emergency access, from the release
  // whose HMI takes the session on its command line, the session stays open
  // for the HMI that is about to start.
  const bool emergency = view.SelectedMode() == launch::modeEmergencyAccess;
  if (verification && emergency && session &&
      rules::TakesSessionOnCommandLine(verification.verified->device.releaseVersionAsInt)) {
    session->HandOver();
    verification.verified->sessionHandedOver = true;
  }
  session.reset();
  view.SetStatusText("");
  c.s.ui.SetBusyCursor(false);
  if (verification && emergency && !verification.verified->sessionHandedOver && !stopped)
    c.s.ui.ShowMessage(plat::MessageKind::Confirmation,
                       "Please generate a new emergency access code and press Enter when it is "
                       "available.");
  return verification;
}

} // namespace device
