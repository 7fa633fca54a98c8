// How every step of a launch below the window reports a failure: one value
// that says where it happened, what the operator reads, and whose it is.
#pragma once

#include <string>

namespace device {

// Where a verification failed.
enum class Stage {
  Input,        // the window's boxes, before any request
  Connect,      // the attempt's first request: nothing answered on the port
  Login,        // the device's information, the login, the extended information
  Provisioning, // the runtime images
};

// Whose a failure is. Only the connection's may be cured by the other
// standard port; every other failure ends the verification.
enum class Whose {
  // The connection's, or the device's as reached on this port (a refused
  // login, an archive it would not send): the other standard port may help.
  Connection,
  // The device's final word, the same on any port (a mode it does not offer,
  // a family that is not ours, a login that got no answer).
  Device,
  // This computer could not do its part: no room, a file it cannot write, a
  // name it cannot store.
  ThisComputer,
  // What the operator typed cannot be tried.
  Input,
  // The operator closed the window: nothing more is tried, nothing shown.
  Close,
  // The operator answered No to a device presenting a changed certificate:
  // nothing more is sent, nothing more shown, the window stays.
  Declined,
};

struct StepFailure {
  Stage stage = Stage::Login;
  // What the operator reads; empty after a close.
  std::string message;
  Whose whose = Whose::Connection;

  bool OtherPortMayHelp() const { return whose == Whose::Connection; }
};

// An attempt that went wrong in a way nobody can tell the operator better:
// nothing answered, or what answered could not be read.
inline constexpr const char* kUnableToConnect =
    "Unable to connect to a device at the specified address.";
inline constexpr const char* kCannotStore = "This computer could not store the runtime images: ";

// This computer's failure to provide the runtime images, in its own words.
inline StepFailure CannotStore(const std::string& reason) {
  return {Stage::Provisioning, kCannotStore + reason, Whose::ThisComputer};
}

} // namespace device
