// Trust on first use: the certificate a device presents, judged by the
// administrator's policy and against this user's record of the certificates
// its devices presented before.
#pragma once

#include "device/DeviceSession.h"
#include "device/StepFailure.h"
#include "platform/Http.h"
#include "platform/Platform.h"

#include <map>
#include <optional>
#include <string>

namespace device {

struct LaunchContext;

// The record's file in the user's own local application-data folder:
// "host:port fingerprint" lines, replaced whole on every change.
inline constexpr const char* kKnownCertificatesFolder = "Veltra Dynamic Remote HMI";
inline constexpr const char* kKnownCertificatesFile = "KnownDevices.txt";

// The record's key of a device: its host in lower case and the port.
std::string CertificateKey(const DeviceEndpoint& at);

// The certificates this user's launches accepted, by device.
class KnownCertificates {
public:
  explicit KnownCertificates(plat::Services& s) : s_(s) {}
  // The file; nothing when the user has no local application-data folder.
  std::optional<std::string> File();
  // Every entry; none when there is no file. Lines that are not an entry
  // are skipped. Raises PlatformError when the file is there but cannot be
  // read.
  std::map<std::string, std::string> Read();
  // Sets the device's entry, written to a file beside the record that then
  // replaces it, so the record is never left half written. Raises
  // PlatformError on failure.
  void Remember(const std::string& key, const std::string& fingerprint);

private:
  plat::Services& s_;
};

// The question put when a device presents another certificate than the one
// on record.
std::string ChangedCertificateQuestion(const std::string& address, const std::string& onRecord,
                                       const std::string& presented);

struct CertificateCheck {
  // The launch stops here: nothing more is to be sent to the device.
  std::optional<StepFailure> refused;
  // To be remembered once the login has gone through; empty for nothing.
  std::string toRemember;
  // The certificate taken, when the policy judges certificates at all: the
  // later answers of the login must come with the same one.
  std::string taken;
};

// Judges the certificate that came with `answer`, the first answer of an
// attempt (which carries no credentials), before anything else is sent.
// First use: a device met for the first time is taken, one whose
// certificate matches the record too; another certificate is put to the
// operator (No stops the launch without a message). Pinned: only the listed
// certificates are taken. Any: everything is.
CertificateCheck CheckCertificate(LaunchContext& c, const DeviceEndpoint& at,
                                  const plat::HttpResponse& answer);

// Records what CheckCertificate asked to remember; a failure is only noted
// in the developer log (the next launch then asks as on first use).
void RememberCertificate(LaunchContext& c, const DeviceEndpoint& at,
                         const std::string& fingerprint);

} // namespace device
