// The package branch: the device's package, from the cache or the package
// folder. It reads nothing from the device.
#include "device/LaunchContext.h"
#include "store/PackageImport.h"

namespace device {

namespace {

class PackageBranch : public ImageSource {
public:
  Provisioned Provide(LaunchContext& c, const DeviceFacts& device, DeviceSession&) override {
    store::StoreContext store = c.Store();
    store::PackageImages found;
    std::string message;
    if (!store::ProvideImagesFromPackage(
            store, {device.deviceType, device.releaseVersion, device.releaseVersionAsInt},
            c.globals, found, message))
      return StepFailure{Stage::Provisioning, message, Whose::Connection};
    return RuntimeImages{found.jreImageFolder, found.libImageFolder, false, "", ""};
  }
};

} // namespace

ImageSource& ImagesFromPackage() {
  static PackageBranch branch;
  return branch;
}

} // namespace device
