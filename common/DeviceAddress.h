// The device's address as the operator types it in the host box: a host,
// optionally followed by ":" and a port.
#pragma once

#include <cstdint>
#include <string>

namespace addr {

// The host box text before its first ":" (all of it without one).
std::string ExtractHost(const std::string& hostText);
// The number after the first ":"; 443 without one. Raises when not an integer.
int32_t ExtractPort(const std::string& hostText);
// "https://" + text when `portInText`, else "https://" + text + ":" + port;
// then "/" and the path.
std::string DeviceUrl(const std::string& hostText, bool portInText, int32_t port,
                      const std::string& path);
// DeviceUrl with the port taken as in the text when the text holds a ":".
std::string DeviceAddress(const std::string& hostText, int32_t port, const std::string& path);

// releaseVersionAsInt and releaseVersion from a build banner: the word after
// "Release" (any letter case) as an integer, and "v" with a point before its
// last two digits ("Release 410" gives 410 and "v4.10"). `releaseVersion` is
// emptied first and left empty, and the integer untouched, when the banner
// has no such word. Raises when the word is not an integer.
void ExtractReleaseVersion(const std::string& buildBanner, std::string& releaseVersion,
                           int32_t& releaseVersionAsInt);

} // namespace addr
