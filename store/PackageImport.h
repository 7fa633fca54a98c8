// Package files: importing one into the cache, and the package branch of
// credential verification that provides the runtime images from packages.
#pragma once

#include <string>

namespace launcher {
class TLoginForm;
}

namespace store {

// Validates the package, copies it into the package cache and installs its
// JRE and HMI binaries images. False with a message for the failures it
// words itself; other failures are raised after the scratch folder is gone.
bool ImportPackage(launcher::TLoginForm& form, const std::string& fileName,
                   std::string& errorMessage);

// Whether the images the package names are installed; the folders are set
// only when they are.
bool IsPackageImageValid(launcher::TLoginForm& form, const std::string& packageFile,
                         std::string& jreImageFolder, std::string& libImageFolder);

// "<deviceType>_<release>.VeltraDynamicRemoteHMI.KL7zip" for the device.
std::string PackageNameFor(launcher::TLoginForm& form);

// The package branch: the device's package from the cache, or imported from
// the package folder in package mode.
bool ProvideImagesFromPackage(launcher::TLoginForm& form, std::string& errorMessage);

} // namespace store
