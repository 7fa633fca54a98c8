// The conversation with the device: the five requests, and the credential
// verification that drives them.
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
#include <functional>
#include <string>

namespace device {

inline constexpr const char* kSessionCookieName = "R930::AuthCookieHandler_R930HMI";
inline constexpr int32_t kFirstPort = 51443;
inline constexpr int32_t kSecondPort = 443;
using store::kRuntimeImagesLock;

// Everything one credential verification works with: the platform, the folder
// tree, the window's narrow side, the launch state it reads and fills, the
// HTTPS client with its cookie store, and the developer log.
struct LaunchContext {
  plat::Services& s;
  store::FolderUtils& folders;
  launch::ILaunchView& view;
  launch::LoginFormState& state;
  launch::LauncherGlobals& globals;
  THttpClient& http;
  launch::DiagnosticLog& log;
  // The two ways the runtime images are provided: from the device (download
  // mode) or from a package. Each returns the attempt's result and, on
  // failure, fills errorMessage. Empty means the real branch.
  std::function<bool(int32_t iPort, std::string& errorMessage)> downloadBranch;
  std::function<bool(std::string& errorMessage)> packageBranch;

  store::StoreContext Store() { return {s, folders, view}; }
};

std::string GetCookieValueByName(THttpClient& http, const std::string& cookieName);
// The machine's own IPv4 address; empty when sockets do not start; raises when
// the machine's own name does not resolve.
std::string GetLocalIP(plat::INetwork& network);
// Reads a file of the device into `localPath`. The body goes to a temporary
// file beside it first and replaces `localPath` only when the device answered
// 200 with the whole body, so a failed read never leaves a partial archive
// where later launches would take it for a complete one. Why a read failed
// goes to the developer log.
bool DownLoadFile(LaunchContext& c, const std::string& remotePath, const std::string& localPath,
                  int32_t port);
bool Logout(THttpClient& http, const std::string& hostText, int32_t port, bool portSpecified);

// Sets releaseVersion and releaseVersionAsInt from buildBanner.
void ExtractReleaseVersion(launch::LoginFormState& state);

bool VerifyCredentials(LaunchContext& c, std::string& errorMessage);

} // namespace device
