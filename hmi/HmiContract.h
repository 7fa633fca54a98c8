// What the launcher relies on in the remote HMI: its files, its start, the
// titles of its windows and the record it keeps of trusted devices.
#pragma once

#include "common/LaunchState.h"

#include <cstdint>
#include <string>

namespace hmi {

// The program inside the JRE image, relative to the image folder.
inline constexpr const char* kJavawRelativePath = "bin\\javaw.exe";
inline constexpr const char* kMainClass = "com.norwickpower.hx.launcher.Launcher";
// The HMI's certificate prompt, shown while the device is not yet trusted.
inline constexpr const char* kCertificatePromptTitle = "Warning";
// Where, under HKEY_CURRENT_USER, the HMI records the devices whose
// certificate the operator accepted: one value per host and port.
inline constexpr const char* kTrustKeyName = "SOFTWARE\\Norwick\\Energy\\Automation\\TLS";

// "prefix (host)".
std::string WindowName(const std::string& prefix, const std::string& host);

// The whole title of the HMI's login window for the device in the host box:
// "Login", unless the HMI puts the host in the caption
// (`includeHostInLoginCaption`); then "Login" or, for the early releases, the
// device type, and the host without a port in parentheses.
std::string GetLoginFormCaption(bool includeHostInLoginCaption, int32_t releaseVersionAsInt,
                                const std::string& deviceType, const std::string& hostText);
std::string GetLoginFormCaption(const launch::LoginFormState& state, const std::string& hostText);

// Whether the HMI's login caption carries the host: always for an HMI
// downloaded from its device, by the release for one from a package.
bool IncludesHostInLoginCaption(bool imagesFromDevice, int32_t releaseVersionAsInt);

// The name of the trust record's value for the host box text: the text as
// typed, with ":443" added when it holds no colon (the HMI names the value
// after host and port).
std::string TrustValueName(const std::string& hostText);

} // namespace hmi
