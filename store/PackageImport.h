// Package files: importing one into the cache, and the package branch of
// credential verification that provides the runtime images from packages.
#pragma once

#include "common/LaunchState.h"
#include "store/StoreContext.h"

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

// "<deviceType>_<release>.VeltraDynamicRemoteHMI.KL7zip" for the device.
std::string PackageNameFor(const launch::LoginFormState& state);

// The package branch: the device's package from the cache, or imported from
// the package folder in package mode.
// Sets the release, the device type (from release 300 on) and the caption
// flag of `state`, and on success its two image folders.
bool ProvideImagesFromPackage(StoreContext& c, launch::LoginFormState& state,
                              const launch::LauncherGlobals& globals, std::string& errorMessage);

} // namespace store
