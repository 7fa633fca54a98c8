// The first stage of an attempt on one port: what the device says about
// itself, the login, and the session it opens.
#pragma once

#include "device/CheckInput.h"
#include "device/DeviceSession.h"
#include "device/StepFailure.h"
#include "platform/Http.h"

#include <cstdint>
#include <optional>
#include <string>

namespace device {

struct LaunchContext;

// What the device told about itself in one attempt: its information answer,
// its extended information answer, and what follows from them.
struct DeviceFacts {
  bool autologinEnabled = false;
  bool emergencyAccessEnabled = false;
  // The information request took more than a second.
  bool wanConnection = false;
  std::string buildBanner;
  std::string schemaversion;
  std::string releaseVersion;
  int32_t releaseVersionAsInt = 0;
  // The first four characters of the hardware model.
  std::string deviceType;
  std::string hmiJREFile;
  std::string hmiLIBFile;
  bool hmiEnabled = false;
  // The cookie value of the session the login opened.
  std::string sessionToken;

  // Everything the download needs is there.
  bool Complete() const;
};

// What the login stage leaves: the device's values as far as they were
// read, the session when the login went through, and the failure when the
// attempt cannot go on (the session, if any, is still to be ended).
struct LoggedIn {
  DeviceFacts device;
  std::optional<DeviceSession> session;
  std::optional<StepFailure> failure;
};

// GET info.cgi, POST LOGIN with the typed credentials as the mode wants them,
// GET cgi-bin/infoExt.cgi, and the checks of what the device answered.
// Starts from the values in `start`. An information request that gets no
// answer at all is a failure at Stage::Connect: nothing answers on this
// port. Other errors (an answer that cannot be read, a release word that is
// not a number, a name of this computer that does not resolve) are raised.
LoggedIn LogIn(LaunchContext& c, const DeviceEndpoint& at, const TypedInput& typed,
               DeviceFacts start);

// The machine's own IPv4 address; empty when sockets do not start; raises when
// the machine's own name does not resolve.
std::string GetLocalIP(plat::INetwork& network);

// Sets releaseVersion and releaseVersionAsInt from buildBanner; leaves the
// integer as it was when the banner names no release.
void ExtractReleaseVersion(DeviceFacts& device);

} // namespace device
