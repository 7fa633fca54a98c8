#include "store/Settings.h"

#include "common/Text.h"
#include "platform/Storage.h"

#include <cctype>

namespace store {

std::string GetPackageFolderValue(StoreContext& c, bool& error) {
  error = false;
  plat::Services& s = c.s;
  const std::string file = c.folders.GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return {};
  try {
    return s.xml.ReadFirst(file, kPackageFolderXPath);
  } catch (const std::exception&) {
    error = true;
    c.view.SetStatusText("Invalid application settings file.");
    c.view.HideBrowse();
    return {};
  }
}

void SavePackageFolderValue(StoreContext& c, const std::string& value) {
  plat::Services& s = c.s;
  const std::string file = c.folders.GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return;
  try {
    s.xml.WriteFirst(file, kPackageFolderXPath, value);
  } catch (const plat::AccessDenied&) {
    // The settings file is the machine's: only an administrator changes it.
    c.view.SetStatusText(
        "The package folder of this computer can only be changed by an administrator.");
  } catch (const std::exception&) {
    c.view.SetStatusText("Error saving application settings file.");
  }
}

namespace {

std::optional<std::string> ReadIfThere(plat::IXmlFile& xml, const std::string& file,
                                       const std::string& xpath) {
  try {
    return xml.ReadFirst(file, xpath);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

} // namespace

std::optional<std::string> NormalizeFingerprint(const std::string& text) {
  std::string hex;
  for (char ch : text) {
    if (ch == ':' || ch == ' ' || ch == '\t')
      continue;
    if (!std::isxdigit(static_cast<unsigned char>(ch)))
      return std::nullopt;
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  }
  if (hex.size() != 64)
    return std::nullopt;
  std::string pairs;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0)
      pairs += ':';
    pairs.append(hex, i, 2);
  }
  return pairs;
}

CertificatePolicy ReadCertificatePolicy(StoreContext& c,
                                        const std::function<void(const std::string&)>& log) {
  CertificatePolicy policy;
  plat::Services& s = c.s;
  const std::string file = c.folders.GetApplicationSettingsFile();
  if (!s.files.FileExists(file))
    return policy;
  std::optional<std::string> mode = ReadIfThere(s.xml, file, kCertificateModeXPath);
  if (!mode)
    return policy;
  const std::string word = text::ToLowerAscii(text::Trim(*mode));
  if (word == "pinned") {
    policy.mode = CertificateMode::Pinned;
  } else if (word == "any") {
    policy.mode = CertificateMode::Any;
  } else if (word != "first-use") {
    log("CertificatePolicy mode \"" + *mode + "\" is not known; first use applies.");
    return policy;
  }
  for (int n = 1; n <= kMaxCertificatePins; ++n) {
    std::optional<std::string> pin =
        ReadIfThere(s.xml, file, "(//CertificatePolicy/Pin)[" + std::to_string(n) + "]/@sha256");
    if (!pin)
      break;
    if (std::optional<std::string> print = NormalizeFingerprint(*pin))
      policy.pins.push_back(*print);
    else
      log("CertificatePolicy pin \"" + *pin + "\" is no SHA-256 fingerprint; skipped.");
  }
  return policy;
}

} // namespace store
