#include "device/CheckInput.h"

#include "common/LaunchState.h"
#include "common/Text.h"

namespace device {

TypedInput TypedInput::ReadFrom(launch::ILaunchView& view) {
  return {view.HostText(), view.UserNameText(), view.PasswordText(), view.SelectedMode()};
}

std::optional<StepFailure> CheckInput(const TypedInput& typed) {
  auto refuse = [](const char* message) {
    return StepFailure{Stage::Input, message, Whose::Input};
  };
  if (text::Trim(typed.host).empty())
    return refuse("Please specify an IP address");
  if (text::Trim(typed.userName).empty() && typed.mode != launch::modeAutoLogin)
    return refuse(typed.mode == launch::modeEmergencyAccess
                      ? "Please specify an emergency access code"
                      : "Please specify a user name");
  if (text::Trim(typed.password).empty() && typed.mode == launch::modeNone)
    return refuse("Please specify a password");
  return std::nullopt;
}

} // namespace device
