// The conversation with the device: addresses, the five requests, and the
// credential verification that drives them.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {
class TLoginForm;
}

namespace device {

inline constexpr const char* kSessionCookieName = "R930::AuthCookieHandler_R930HMI";
inline constexpr int32_t kFirstPort = 51443;
inline constexpr int32_t kSecondPort = 443;

// The host box text before its first ":" (all of it without one).
std::string ExtractHost(const std::string& hostText);
// The number after the first ":"; 443 without one. Raises when not an integer.
int32_t ExtractPort(const std::string& hostText);
// "https://" + text when it holds a ":", else "https://" + text + ":" + port;
// then "/" and the path.
std::string DeviceAddress(const std::string& hostText, int32_t port, const std::string& path);

std::string GetCookieValueByName(launcher::TLoginForm& form, const std::string& cookieName);
// The machine's own IPv4 address; empty when sockets do not start; raises when
// the machine's own name does not resolve.
std::string GetLocalIP(launcher::TLoginForm& form);
// Reads a file of the device into `localPath`. The body goes to a temporary
// file beside it first and replaces `localPath` only when the device answered
// 200 with the whole body, so a failed read never leaves a partial archive
// where later launches would take it for a complete one.
bool DownLoadFile(launcher::TLoginForm& form, const std::string& remotePath,
                  const std::string& localPath, int32_t port);
bool Logout(launcher::TLoginForm& form, int32_t port, bool portSpecified);

// Sets releaseVersion and releaseVersionAsInt from buildBanner.
void ExtractReleaseVersion(launcher::TLoginForm& form);

bool VerifyCredentials(launcher::TLoginForm& form, std::string& errorMessage);

} // namespace device
