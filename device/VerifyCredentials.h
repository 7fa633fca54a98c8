// Credential verification: the input checks, one attempt per port (log in,
// then provide the runtime images under the machine-wide lock), and the end
// step.
#pragma once

#include "device/DeviceSession.h"
#include "device/LaunchContext.h"
#include "device/LogIn.h"
#include "device/StepFailure.h"

#include <optional>
#include <string>

namespace device {

// A verification that went through: the device, the images, where the
// device answered, and whether the HMI takes the device session over.
struct Verified {
  DeviceFacts device;
  RuntimeImages images;
  // The host as read when the verification started, with the port that
  // answered; the host box is set to it.
  std::string hostText;
  // The endpoint that answered: every later step talks to this device.
  DeviceEndpoint endpoint;
  bool sessionHandedOver = false;
};

struct Verification {
  std::optional<Verified> verified;
  // The failure the operator is told of; to be ignored when verified.
  StepFailure failure;

  explicit operator bool() const { return verified.has_value(); }
};

// The input checks, the attempts (log in, provide the images), the logout
// where due, the status bar cleared and the cursor restored. The boxes are
// read once, at the start: a box edited meanwhile changes nothing of this
// verification. Without a typed port the first standard port is tried, then
// the second, but only after a failure that another port may cure; when
// nothing answers at all on the second, the first port's failure is the one
// told.
Verification VerifyCredentials(LaunchContext& c);

} // namespace device
