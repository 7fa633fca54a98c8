#include "hmi/HmiContract.h"

#include "common/DeviceAddress.h"
#include "common/ReleaseRules.h"

namespace hmi {

std::string WindowName(const std::string& prefix, const std::string& host) {
  return prefix + " (" + host + ")";
}

std::string GetLoginFormCaption(bool includeHostInLoginCaption, int32_t releaseVersionAsInt,
                                const std::string& deviceType, const std::string& hostText) {
  if (!includeHostInLoginCaption)
    return "Login";
  std::string prefix =
      rules::LoginCaptionSaysLogin(releaseVersionAsInt) ? std::string("Login") : deviceType;
  return WindowName(prefix, addr::ExtractHost(hostText));
}

std::string GetLoginFormCaption(const launch::LoginFormState& state, const std::string& hostText) {
  return GetLoginFormCaption(state.includeHostInLoginCaption, state.releaseVersionAsInt,
                             state.deviceType, hostText);
}

bool IncludesHostInLoginCaption(bool imagesFromDevice, int32_t releaseVersionAsInt) {
  return imagesFromDevice || rules::HasLoginCaptionWithHost(releaseVersionAsInt);
}

std::string TrustValueName(const std::string& hostText) {
  if (hostText.find(':') != std::string::npos)
    return hostText;
  return hostText + ":443";
}

} // namespace hmi
