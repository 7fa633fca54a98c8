// What the operator typed, read once when a verification starts, and the
// checks it must pass before anything is asked of the device.
#pragma once

#include "common/LaunchView.h"
#include "device/StepFailure.h"

#include <optional>
#include <string>

namespace device {

// The boxes and the mode as they were when Launch was pressed. Every step of
// the verification works from these, so that a box edited meanwhile changes
// nothing of a launch under way.
struct TypedInput {
  std::string host;
  std::string userName;
  std::string password;
  int mode = -1;

  static TypedInput ReadFrom(launch::ILaunchView& view);
};

// What cannot even be tried: an input failure with the operator's message,
// or nothing. The checks look at the texts without surrounding blanks and
// control codes; the requests send them as typed.
std::optional<StepFailure> CheckInput(const TypedInput& typed);

} // namespace device
