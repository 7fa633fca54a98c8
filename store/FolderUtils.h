// The machine-wide folder tree under the common application-data folder, the
// one rule by which paths are joined, image validity and scratch folders.
#pragma once

#include "platform/Platform.h"

#include <stdexcept>
#include <string>

namespace store {

// A path part that may not be used: characters not allowed in paths, or a
// version, release or build name that is not one plain folder name.
class InvalidPathError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

// Raised when a folder cannot be created because its drive or root is missing.
class DirectoryNotFoundError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kAppFolderName = "Veltra Dynamic Remote HMI";

// Joins two path parts: an empty part yields the other, a rooted right part
// yields itself, otherwise one backslash goes between them unless the left
// part already ends in "\", "/" or ":". A part holding characters not allowed
// in paths raises InvalidPathError; with `allowWildcards` "*" and "?" pass.
std::string JoinPath(const std::string& left, const std::string& right,
                     bool allowWildcards = false);

// True for "\x", "/x" and "C:..." paths.
bool IsRootedPath(const std::string& path);

// Raises InvalidPathError unless `name` can be used as exactly one folder name
// inside our tree: not empty, no separator, not rooted, not "." or "..", no
// characters that the file system would refuse or silently alter, and not a
// reserved device name. Device answers and package properties are the source
// of these names, so they are screened before they reach the file system.
void CheckFolderName(const std::string& name, const char* what);

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
  std::string CreateUniqueDirectory(const std::string& baseDir, const std::string& prefix);

private:
  // Creates `path` with its parents when missing; a folder that cannot be
  // made is left for the later file operation to report, except when its
  // drive or root does not exist.
  void EnsureFolder(const std::string& path);

  plat::Services& s_;
};

} // namespace store
