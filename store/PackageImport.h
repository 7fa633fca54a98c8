// Package files: importing one into the cache, and the package branch of
// credential verification that provides the runtime images from packages.
#pragma once

#include "common/LaunchState.h"
#include "store/StoreContext.h"

#include <cstdint>
#include <string>

namespace store {

// Validates the package, copies it into the package cache and installs its
// JRE and HMI binaries images. False with a message for the failures it
// words itself; other failures are raised after the scratch folder is gone.
bool ImportPackage(StoreContext& c, const std::string& fileName, std::string& errorMessage);

// Whether the images the package names are installed; the folders are set
// only when they are.
bool IsPackageImageValid(StoreContext& c, const std::string& packageFile,
                         std::string& jreImageFolder, std::string& libImageFolder);

// The device a package is looked for: its hardware model and its release.
struct DeviceRelease {
  std::string deviceType;
  std::string releaseVersion;
  int32_t releaseVersionAsInt = 0;
};

// The device type a package names: the family "Veltra" for the releases
// whose packages serve the whole family, else the hardware model.
std::string PackageDeviceType(const DeviceRelease& device);

// "<deviceType>_<release>.VeltraDynamicRemoteHMI.KL7zip" for the device.
std::string PackageNameFor(const DeviceRelease& device);

// The installed images of a package.
struct PackageImages {
  std::string jreImageFolder;
  std::string libImageFolder;
};

// The package branch: the device's package from the cache, or imported from
// the package folder in package mode. On success `images` names its two
// installed images.
bool ProvideImagesFromPackage(StoreContext& c, const DeviceRelease& device,
                              const launch::LauncherGlobals& globals, PackageImages& images,
                              std::string& errorMessage);

} // namespace store
