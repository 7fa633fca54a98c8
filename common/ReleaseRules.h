// What changes with the device's firmware release, one named rule each. The
// release is the integer of the build banner: one hundred times the dotted
// release (410 for 4.10). Every decision that depends on the release asks
// one of these, so a threshold is written once.
#pragma once

#include <cstdint>

namespace rules {

// From 4.10, in emergency access, the HMI receives the device session on its
// command line: the launcher leaves the session open for it and asks for no
// new emergency code.
inline bool TakesSessionOnCommandLine(int32_t release) {
  return release >= 410;
}

// From 3.00 the HMI takes the device's port on its command line.
inline bool HasPortOption(int32_t release) {
  return release >= 300;
}

// From 3.00 the HMI's login window is titled "Login (host)"; before, the
// device type stands in front of the host.
inline bool LoginCaptionSaysLogin(int32_t release) {
  return release >= 300;
}

// From 3.00 one package serves the whole device family and is named after it
// rather than after the hardware model.
inline bool PackageServesTheFamily(int32_t release) {
  return release >= 300;
}

// Above 2.30 the HMI's login window carries the host in its title. Images
// downloaded from a device always come with such an HMI; a package says
// nothing about it, so its release decides.
inline bool HasLoginCaptionWithHost(int32_t release) {
  return release > 230;
}

// Before 2.50 the HMI's login window must have processed a message before it
// takes keystrokes reliably.
inline bool NeedsReadyMessage(int32_t release) {
  return release < 250;
}

// From 0.90 the HMI's login window keeps working when it is moved off-screen.
inline bool MayMoveOffScreen(int32_t release) {
  return release >= 90;
}

} // namespace rules
