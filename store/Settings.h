// The settings file: its presence puts the launcher into package mode, and its
// one value is the package folder.
#pragma once

#include "store/StoreContext.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace store {

inline constexpr const char* kPackageFolderXPath = "//PackageFolder/@baseURI";

// The package folder as stored (not trimmed); empty when the file is absent.
// An unreadable file sets `error`, puts "Invalid application settings file."
// in the status bar and hides Browse.
std::string GetPackageFolderValue(StoreContext& c, bool& error);
// Stores the value when the file exists; any failure is reported in the
// status bar. Never creates the file.
void SavePackageFolderValue(StoreContext& c, const std::string& value);

// How the certificates that devices present are judged.
enum class CertificateMode {
  // A device's first certificate is taken and remembered per user; a
  // different one later is put to the operator before anything is sent.
  FirstUse,
  // Only the administrator's listed certificates are taken; no question.
  Pinned,
  // Every certificate is taken; nothing is remembered or compared.
  Any,
};

struct CertificatePolicy {
  CertificateMode mode = CertificateMode::FirstUse;
  // SHA-256 fingerprints as upper-case hex pairs joined by colons.
  std::vector<std::string> pins;
};

inline constexpr const char* kCertificateModeXPath = "//CertificatePolicy/@mode";
// At most this many pins are read: more is a broken file, not a fleet.
inline constexpr int kMaxCertificatePins = 256;

// The policy of the settings file's CertificatePolicy element: first use
// when there is no file, no element or no mode; an unknown mode falls back
// to first use and is told to `log`, as is a pin that is no fingerprint
// (it is skipped). A file that cannot be read gives first use.
CertificatePolicy ReadCertificatePolicy(StoreContext& c,
                                        const std::function<void(const std::string&)>& log);

// A fingerprint as the policy and the launcher's record keep it (upper-case
// hex pairs joined by colons), from hex with or without colons or blanks in
// either case; nothing when it is not 32 bytes of hex.
std::optional<std::string> NormalizeFingerprint(const std::string& text);

} // namespace store
