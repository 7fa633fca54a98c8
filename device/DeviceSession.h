// The conversation with the device: the five requests, the session a login
// opens, and the credential verification that drives them as stages.
#pragma once

#include "common/DiagnosticLog.h"
#include "common/LaunchState.h"
#include "common/LaunchView.h"
#include "device/HttpClient.h"
#include "platform/Http.h"
#include "platform/Platform.h"
#include "store/FolderUtils.h"
#include "store/ImageInstall.h"
#include "store/StoreContext.h"

#include <cstdint>
#include <optional>
#include <string>

namespace device {

inline constexpr const char* kSessionCookieName = launch::kSessionCookieName;
inline constexpr int32_t kFirstPort = 51443;
inline constexpr int32_t kSecondPort = 443;
using store::kRuntimeImagesLock;

// What the device told about itself in one attempt: its information answer,
// its extended information answer, and what follows from them.
struct DeviceFacts {
  bool autologinEnabled = false;
  bool emergencyAccessEnabled = false;
  // The information request took more than a second.
  bool wanConnection = false;
  std::string buildBanner;
  std::string schemaversion;
  std::string releaseVersion;
  int32_t releaseVersionAsInt = 0;
  // The first four characters of the hardware model.
  std::string deviceType;
  std::string hmiJREFile;
  std::string hmiLIBFile;
  bool hmiEnabled = false;
  // The cookie value of the session the login opened.
  std::string sessionToken;

  // Everything the download needs is there.
  bool Complete() const;
};

// The address of one attempt: the host box's text and the port tried.
struct DeviceEndpoint {
  std::string hostText;
  int32_t port = kSecondPort;
  bool portSpecified = false; // the port is part of hostText

  std::string Url(const char* path) const;
};

// A session opened on the device by a successful login. It logs out when it
// ends, unless the device stopped answering (there is nothing to end then)
// or the HMI took it over. A request of the session that gets no answer at
// all marks the device as gone.
class DeviceSession {
public:
  DeviceSession(THttpClient& http, DeviceEndpoint endpoint, std::string token);
  ~DeviceSession();
  DeviceSession(DeviceSession&& other) noexcept;
  // Ends this session first.
  DeviceSession& operator=(DeviceSession&& other) noexcept;
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  const DeviceEndpoint& Endpoint() const { return endpoint_; }
  const std::string& Token() const { return token_; }
  // Still to be logged out.
  bool Open() const { return open_; }

  // A GET of the session; no answer marks the device as gone.
  std::optional<plat::HttpResponse> Get(const char* path);
  // Marks the device as gone: the session is not logged out.
  void DeviceGone() { open_ = false; }
  // The HMI takes the session on its command line; it stays open.
  void HandOver() { open_ = false; }
  // Logs out now, once.
  void End();

private:
  void EndQuietly() noexcept;

  THttpClient* http_;
  DeviceEndpoint endpoint_;
  std::string token_;
  bool open_ = true;
};

// Why a launch step stopped, and what the operator reads.
enum class Stage { Input, Login, Provisioning };
struct StepFailure {
  Stage stage = Stage::Login;
  std::string message;
  // The failure may be the port's: a second attempt on the other standard
  // port follows when the host box named none.
  bool nextPortMayHelp = false;
};

// The runtime images one launch runs the HMI from.
struct RuntimeImages {
  std::string jreImageFolder;
  std::string hmiLibImageFolder;
  // Downloaded from the device (else from a package).
  bool fromDevice = false;
  // The version names the download made of the archive names; empty for a
  // package.
  std::string jreVersion;
  std::string hmiSchemaVersion;
};

// What a provisioning branch returns: the images, or why there are none.
struct Provisioned {
  std::optional<RuntimeImages> images;
  std::string message;
  // Not the connection's fault: another port would not help.
  bool stop = false;
};

struct LaunchContext;

// One way of providing the runtime images for the device of an open session.
class ImageSource {
public:
  virtual ~ImageSource() = default;
  virtual Provisioned Provide(LaunchContext& c, const DeviceFacts& device,
                              DeviceSession& session) = 0;
};

// The download branch and the package branch.
ImageSource& DownloadFromDevice();
ImageSource& ImagesFromPackage();

// Everything one credential verification works with: the platform, the folder
// tree, the window's narrow side, the options of the run, the HTTPS client
// with its cookie store, the developer log, the record of the last launch
// (read only: an attempt starts from its values) and the two provisioning
// branches.
struct LaunchContext {
  plat::Services& s;
  store::FolderUtils& folders;
  launch::ILaunchView& view;
  const launch::LoginFormState& last;
  const launch::LauncherGlobals& globals;
  THttpClient& http;
  launch::DiagnosticLog& log;
  ImageSource& download = DownloadFromDevice();
  ImageSource& package = ImagesFromPackage();

  store::StoreContext Store() { return {s, folders, view}; }
};

// A verification that went through: the device, the images, and whether the
// HMI takes the device session over.
struct Verified {
  DeviceFacts device;
  RuntimeImages images;
  // The host box's text now, with the port that answered.
  std::string hostText;
  bool sessionHandedOver = false;
};

struct Verification {
  std::optional<Verified> verified;
  // The last failure; to be ignored when verified.
  StepFailure failure;

  explicit operator bool() const { return verified.has_value(); }
};

std::string GetCookieValueByName(THttpClient& http, const std::string& cookieName);
// The machine's own IPv4 address; empty when sockets do not start; raises when
// the machine's own name does not resolve.
std::string GetLocalIP(plat::INetwork& network);

// Reads a file of the device into `localPath`. The body goes to a temporary
// file beside it first and replaces `localPath` only when the device answered
// 200 with the whole body, so a failed read never leaves a partial archive
// where later launches would take it for a complete one. Why a read failed
// goes to the developer log. A failed read says nothing certain about the
// device (the launcher may have refused the body, or this machine failed to
// store it), so it does not end the session: the logout that follows finds
// out whether the device is still there.
bool DownLoadFile(LaunchContext& c, const std::string& remotePath, const std::string& localPath,
                  int32_t port);
bool Logout(THttpClient& http, const std::string& hostText, int32_t port, bool portSpecified);

// Sets releaseVersion and releaseVersionAsInt from buildBanner; leaves the
// integer as it was when the banner names no release.
void ExtractReleaseVersion(DeviceFacts& device);

// The input checks, the attempts (log in, provide the images), the logout
// where due, the status bar cleared and the cursor restored.
Verification VerifyCredentials(LaunchContext& c);

} // namespace device
