// What one credential verification works with, and the provisioning
// interface its two branches implement.
#pragma once

#include "common/DiagnosticLog.h"
#include "common/LaunchState.h"
#include "common/LaunchView.h"
#include "device/DeviceSession.h"
#include "device/HttpClient.h"
#include "device/LogIn.h"
#include "device/StepFailure.h"
#include "platform/Platform.h"
#include "store/FolderUtils.h"
#include "store/ImageInstall.h"
#include "store/StoreContext.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

namespace device {

using store::kRuntimeImagesLock;

// The runtime images one launch runs the HMI from.
struct RuntimeImages {
  std::string jreImageFolder;
  std::string hmiLibImageFolder;
  // Downloaded from the device (else from a package).
  bool fromDevice = false;
  // The version names the download made of the archive names; empty for a
  // package.
  std::string jreVersion;
  std::string hmiSchemaVersion;
};

// What a provisioning branch returns: the images, or the failure that left
// none.
struct Provisioned {
  Provisioned(RuntimeImages provided) : images(std::move(provided)) {}
  Provisioned(StepFailure why) : failure(std::move(why)) {}

  std::optional<RuntimeImages> images;
  // To be ignored when there are images.
  StepFailure failure;
};

struct LaunchContext;

// One way of providing the runtime images for the device of an open session.
class ImageSource {
public:
  virtual ~ImageSource() = default;
  virtual Provisioned Provide(LaunchContext& c, const DeviceFacts& device,
                              DeviceSession& session) = 0;
};

// The download branch (ImageDownload.cpp) and the package branch
// (PackageBranch.cpp).
ImageSource& DownloadFromDevice();
ImageSource& ImagesFromPackage();

// Everything one credential verification works with: the platform, the folder
// tree, the window's narrow side, the options of the run, the HTTPS client
// with its cookie store, the developer log, the record of the last launch
// (read only: an attempt starts from its values) and the two provisioning
// branches.
struct LaunchContext {
  plat::Services& s;
  store::FolderUtils& folders;
  launch::ILaunchView& view;
  const launch::LoginFormState& last;
  const launch::LauncherGlobals& globals;
  THttpClient& http;
  launch::DiagnosticLog& log;
  ImageSource& download = DownloadFromDevice();
  ImageSource& package = ImagesFromPackage();

  store::StoreContext Store() { return {s, folders, view}; }
};

// Developer-log lines of the provisioning: they must never turn a launch
// into a failure of their own.
inline void LogQuietly(LaunchContext& c, const std::string& line) {
  try {
    c.log.LogMessage(line);
  } catch (const std::exception&) {
  }
}

} // namespace device
