#include "common/DeviceAddress.h"

#include "common/Text.h"

namespace addr {

std::string ExtractHost(const std::string& hostText) {
  return hostText.substr(0, hostText.find(':'));
}

int32_t ExtractPort(const std::string& hostText) {
  size_t colon = hostText.find(':');
  if (colon == std::string::npos)
    return 443;
  return text::ToInt32(hostText.substr(colon + 1));
}

std::string DeviceUrl(const std::string& hostText, bool portInText, int32_t port,
                      const std::string& path) {
  if (portInText)
    return "https://" + hostText + "/" + path;
  return "https://" + hostText + ":" + std::to_string(port) + "/" + path;
}

std::string DeviceAddress(const std::string& hostText, int32_t port, const std::string& path) {
  return DeviceUrl(hostText, hostText.find(':') != std::string::npos, port, path);
}

void ExtractReleaseVersion(const std::string& buildBanner, std::string& releaseVersion,
                           int32_t& releaseVersionAsInt) {
  releaseVersion.clear();
  bool marked = false;
  for (const std::string& word : text::Split(buildBanner, ' ')) {
    if (text::EqualsIgnoreCase(word, "Release")) {
      marked = true;
      continue;
    }
    if (!marked)
      continue;
    std::string releaseWord = text::Trim(word);
    releaseVersionAsInt = text::ToInt32(releaseWord);
    size_t cut = releaseWord.size() >= 2 ? releaseWord.size() - 2 : 0;
    releaseVersion = "v" + releaseWord.substr(0, cut) + "." + releaseWord.substr(cut);
    return;
  }
}

} // namespace addr
