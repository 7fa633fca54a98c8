// The machine-wide folder tree under the common application-data folder,
// image validity and scratch folders. Paths are joined by the one rule of
// common/Paths.h.
#pragma once

#include "common/Paths.h"
#include "platform/Platform.h"

#include <stdexcept>
#include <string>

namespace store {

// Raised when a folder cannot be created because its drive or root is missing.
class DirectoryNotFoundError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kAppFolderName = "Veltra Dynamic Remote HMI";

// The folders of the application root where launchers provision images:
// every user may add to them, nobody may change what another made.
inline constexpr const char* kProvisioningFolders[] = {"JRECache", "LIBCache", "PackageCache",
                                                       "JREImage", "LIBImage"};

// The files whose presence makes an image valid.
inline constexpr const char* kJreImageMarker = "bin\\javaw.exe";
inline constexpr const char* kLibImageMarker = "config-gui.jar";

class FolderUtils {
public:
  explicit FolderUtils(plat::Services& services) : s_(services) {}

  std::string GetAppRootFolder();
  std::string GetApplicationSettingsFile();
  std::string GetJRECacheFolder();
  std::string GetLIBCacheFolder();
  std::string GetPackageCacheFolder();
  std::string GetJREImageFolder(const std::string& JREVersion);
  std::string GetLIBImageFolder(const std::string& releaseVersion, const std::string& buildVersion);
  bool IsJREImageFolderValid(const std::string& JREVersion);
  bool IsLIBImageFolderValid(const std::string& releaseVersion, const std::string& buildVersion);
  // A folder this call has just created, empty: "<prefix>_<pid>_<n>" in
  // `baseDir` (made with its parents when missing) or in the temporary folder.
  std::string CreateUniqueDirectory(const std::string& baseDir, const std::string& prefix);

private:
  // Makes the application root when it is missing (normally the installer
  // has), with its fixed folders: the root's list lets no user but an
  // administrator make anything in it, so the folders where every user's
  // launcher provisions are made first and get theirs. A root that exists
  // keeps the lists it has: the launcher never widens rights.
  void EnsureAppRoot();
  // Creates the folder `path` when missing (its parents too, without lists
  // of their own); a folder this call made gets `list`. A folder that cannot
  // be made is left for the later file operation to report, except when its
  // drive or root does not exist.
  void EnsureFolder(const std::string& path, plat::AccessList list);

  plat::Services& s_;
};

} // namespace store
