#include "device/CertificateTrust.h"

#include "common/DeviceAddress.h"
#include "common/Paths.h"
#include "common/Text.h"
#include "device/LaunchContext.h"
#include "store/Settings.h"

#include <algorithm>
#include <exception>

namespace device {

std::string CertificateKey(const DeviceEndpoint& at) {
  return text::ToLowerAscii(addr::ExtractHost(at.hostText)) + ":" + std::to_string(at.port);
}

std::optional<std::string> KnownCertificates::File() {
  std::optional<std::string> local = s_.system.LocalAppDataFolder();
  if (!local || local->empty())
    return std::nullopt;
  return paths::JoinPath(paths::JoinPath(*local, kKnownCertificatesFolder), kKnownCertificatesFile);
}

std::map<std::string, std::string> KnownCertificates::Read() {
  std::map<std::string, std::string> known;
  std::optional<std::string> file = File();
  if (!file || !s_.files.FileExists(*file))
    return known;
  const std::string content = s_.files.ReadFile(*file);
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos)
      end = content.size();
    const std::string line = text::Trim(std::string_view(content).substr(start, end - start));
    start = end + 1;
    const size_t blank = line.find(' ');
    if (blank == std::string::npos)
      continue;
    std::optional<std::string> print = store::NormalizeFingerprint(line.substr(blank + 1));
    if (print)
      known[text::ToLowerAscii(line.substr(0, blank))] = *print;
  }
  return known;
}

void KnownCertificates::Remember(const std::string& key, const std::string& fingerprint) {
  std::optional<std::string> file = File();
  if (!file)
    throw plat::PlatformError("This user has no local application-data folder.");
  // Read again just before the write: another launcher of this user may
  // have recorded a device meanwhile.
  std::map<std::string, std::string> known = Read();
  known[key] = fingerprint;
  std::string content;
  for (const auto& [device, print] : known)
    content += device + " " + print + "\r\n";
  if (!s_.files.CreateDirectories(paths::ParentFolderOf(*file)))
    throw plat::PlatformError("The folder of \"" + *file + "\" cannot be made.");
  const std::string temporary = *file + "." + std::to_string(s_.system.ProcessId()) + ".tmp";
  s_.files.WriteFile(temporary, content);
  try {
    s_.files.MoveFile(temporary, *file);
  } catch (const plat::PlatformError&) {
    try {
      s_.files.DeleteFile(temporary);
    } catch (const plat::PlatformError&) {
    }
    throw;
  }
}

std::string ChangedCertificateQuestion(const std::string& address, const std::string& onRecord,
                                       const std::string& presented) {
  return "The device at " + address +
         " presents a different certificate from the one on record for it.\n\n"
         "On record (SHA-256): " +
         onRecord + "\nPresented (SHA-256): " + presented +
         "\n\nIf the device was not replaced and its certificate not renewed, another "
         "computer may be answering in its place and would receive the credentials.\n\n"
         "Log in anyway?";
}

CertificateCheck CheckCertificate(LaunchContext& c, const DeviceEndpoint& at,
                                  const plat::HttpResponse& answer) {
  CertificateCheck check;
  store::StoreContext store = c.Store();
  const store::CertificatePolicy policy =
      store::ReadCertificatePolicy(store, [&](const std::string& line) { LogQuietly(c, line); });
  if (policy.mode == store::CertificateMode::Any)
    return check;

  const std::string address = at.HostWithPort();
  const std::string& presented = answer.certificateSha256;
  check.taken = presented;
  if (presented.empty()) {
    check.refused = StepFailure{Stage::Login,
                                "The certificate of the device at " + address +
                                    " could not be read, so it cannot be checked.",
                                Whose::Device};
    return check;
  }

  if (policy.mode == store::CertificateMode::Pinned) {
    if (std::find(policy.pins.begin(), policy.pins.end(), presented) == policy.pins.end())
      check.refused = StepFailure{Stage::Login,
                                  "The certificate of the device at " + address +
                                      " is not one of those allowed on this computer.\n\n"
                                      "Presented (SHA-256): " +
                                      presented,
                                  Whose::Device};
    return check;
  }

  const std::string key = CertificateKey(at);
  std::map<std::string, std::string> known;
  try {
    known = KnownCertificates(c.s).Read();
  } catch (const plat::PlatformError& e) {
    // Without the record a changed certificate would pass unnoticed.
    check.refused = StepFailure{
        Stage::Login, std::string("The record of device certificates cannot be read: ") + e.what(),
        Whose::ThisComputer};
    return check;
  }
  auto onRecord = known.find(key);
  if (onRecord == known.end()) {
    check.toRemember = presented;
    return check;
  }
  if (onRecord->second == presented)
    return check;
  LogQuietly(c, "Certificate of " + key + " changed: " + onRecord->second + " -> " + presented);
  if (!c.s.ui.AskYesNo(ChangedCertificateQuestion(address, onRecord->second, presented))) {
    check.refused = StepFailure{Stage::Login, "", Whose::Declined};
    return check;
  }
  check.toRemember = presented;
  return check;
}

void RememberCertificate(LaunchContext& c, const DeviceEndpoint& at,
                         const std::string& fingerprint) {
  if (fingerprint.empty())
    return;
  try {
    KnownCertificates(c.s).Remember(CertificateKey(at), fingerprint);
  } catch (const std::exception& e) {
    LogQuietly(c, std::string("The device's certificate could not be recorded: ") + e.what());
  }
}

} // namespace device
