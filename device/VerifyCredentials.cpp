#include "device/VerifyCredentials.h"

#include "common/DeviceAddress.h"
#include "common/LaunchState.h"
#include "common/ReleaseRules.h"
#include "device/CheckInput.h"

#include <exception>
#include <memory>

namespace device {

namespace {

// The second stage: the images, by the branch the device's values call for,
// one launcher of the machine at a time. A failure of this machine (no room,
// a write refused) is not the device's: it is told in its own words, and
// another port would not help.
Provisioned ProvideImages(LaunchContext& c, const DeviceFacts& device, DeviceSession& session) {
  std::unique_ptr<plat::NamedLock> imagesLock =
      store::LockRuntimeImages(c.s, c.view, [&](const std::string& why) { LogQuietly(c, why); });
  ImageSource& source = device.Complete() && c.globals.enableDownload ? c.download : c.package;
  try {
    return source.Provide(c, device, session);
  } catch (const plat::PlatformError& e) {
    return CannotStore(e.what());
  }
}

// One attempt on one port: log in, then provide the images. An error inside
// it (no answer where a body is read, a port that is not a number, an answer
// that cannot be read) fails the attempt as the connection's.
struct Attempt {
  std::optional<RuntimeImages> images;
  StepFailure failure;
  DeviceFacts device;
};

Attempt TryPort(LaunchContext& c, const TypedInput& typed, DeviceEndpoint& at, int attempt,
                std::optional<DeviceSession>& session) {
  Attempt result;
  result.device.releaseVersionAsInt = c.last.releaseVersionAsInt;
  Stage reached = Stage::Connect;
  try {
    at.port = at.portSpecified ? addr::ExtractPort(at.hostText)
                               : (attempt == 1 ? kFirstPort : kSecondPort);
    reached = Stage::Login;
    LoggedIn login = LogIn(c, at, typed, result.device);
    result.device = std::move(login.device);
    session = std::move(login.session);
    if (login.failure) {
      result.failure = std::move(*login.failure);
      return result;
    }
    reached = Stage::Provisioning;
    if (c.view.StopRequested())
      throw plat::Stopped();
    Provisioned provided = ProvideImages(c, result.device, *session);
    if (!provided.images) {
      result.failure = std::move(provided.failure);
      return result;
    }
    result.images = std::move(provided.images);
  } catch (const plat::Stopped&) {
    result.failure = {reached, "", Whose::Close};
  } catch (const std::exception&) {
    result.failure = {reached, kUnableToConnect, Whose::Connection};
  }
  return result;
}

} // namespace

Verification VerifyCredentials(LaunchContext& c) {
  launch::ILaunchView& view = c.view;
  const TypedInput typed = TypedInput::ReadFrom(view);
  Verification verification;
  if (std::optional<StepFailure> refusal = CheckInput(typed)) {
    verification.failure = std::move(*refusal);
    return verification;
  }

  DeviceEndpoint at{typed.host, kSecondPort, typed.host.find(':') != std::string::npos};
  const int attempts = at.portSpecified ? 1 : 2;
  std::optional<DeviceSession> session;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    // The session of a failed attempt ends before the next login.
    session.reset();
    Attempt tried = TryPort(c, typed, at, attempt, session);
    if (tried.images) {
      // The device that answered, as typed, with the port that answered:
      // the host box shows it, and the launch goes on with it.
      const std::string hostText = at.HostWithPort();
      view.SetHostText(hostText);
      verification.verified =
          Verified{std::move(tried.device), std::move(*tried.images), hostText, at, false};
      break;
    }
    // Nothing answering on the other port says less than the failure of
    // the port that did answer.
    const bool nothingAnswered =
        tried.failure.stage == Stage::Connect && tried.failure.whose == Whose::Connection;
    if (attempt == 1 || !nothingAnswered)
      verification.failure = std::move(tried.failure);
    // Closed meanwhile: no other port is tried.
    if (!verification.failure.OtherPortMayHelp() || view.StopRequested())
      break;
  }
  // Closed meanwhile: even images that came in time are not used, and the
  // session is logged out, not left to an HMI that will not start; nothing
  // is told.
  const bool closed = view.StopRequested();
  if (closed) {
    const Stage stage = verification ? Stage::Provisioning : verification.failure.stage;
    verification.verified.reset();
    verification.failure = {stage, "", Whose::Close};
  }

  // End step, after a close as well. In emergency access, from the release
  // whose HMI takes the session on its command line, the session stays open
  // for the HMI that is about to start.
  const bool emergency = typed.mode == launch::modeEmergencyAccess;
  if (verification && emergency && session &&
      rules::TakesSessionOnCommandLine(verification.verified->device.releaseVersionAsInt)) {
    session->HandOver();
    verification.verified->sessionHandedOver = true;
  }
  session.reset();
  view.SetStatusText("");
  c.s.ui.SetBusyCursor(false);
  if (verification && emergency && !verification.verified->sessionHandedOver && !closed)
    c.s.ui.ShowMessage(plat::MessageKind::Confirmation,
                       "Please generate a new emergency access code and press Enter when it is "
                       "available.");
  return verification;
}

} // namespace device
