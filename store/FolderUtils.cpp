#include "store/FolderUtils.h"

#include "common/Text.h"

namespace store {

using paths::CheckFolderName;
using paths::JoinPath;

void FolderUtils::EnsureAppRoot() {
  const std::string root = GetAppRootFolder();
  if (!paths::IsRootedPath(root) || s_.files.DirectoryExists(root))
    return;
  // Of two launchers making it at once, only the one whose call made it
  // changes its rights. A root whose rights cannot be changed still serves
  // this user.
  if (s_.files.CreateNewDirectory(root))
    s_.files.ShareFolderWithLocalUsers(root);
}

void FolderUtils::EnsureFolder(const std::string& path) {
  if (s_.files.DirectoryExists(path))
    return;
  EnsureAppRoot();
  if (s_.files.CreateDirectories(path))
    return;
  std::string root = paths::RootOf(path);
  if (!root.empty() && !s_.files.DirectoryExists(root))
    throw DirectoryNotFoundError("Could not find a part of the path '" + path + "'");
}

std::string FolderUtils::GetAppRootFolder() {
  std::optional<std::string> common = s_.system.CommonAppDataFolder();
  if (!common || common->empty())
    return kAppFolderName;
  return JoinPath(*common, kAppFolderName);
}

std::string FolderUtils::GetApplicationSettingsFile() {
  return JoinPath(GetAppRootFolder(), "ApplicationSettings.xml");
}

std::string FolderUtils::GetJRECacheFolder() {
  std::string path = JoinPath(GetAppRootFolder(), "JRECache");
  EnsureFolder(path);
  return path;
}

std::string FolderUtils::GetLIBCacheFolder() {
  std::string path = JoinPath(GetAppRootFolder(), "LIBCache");
  EnsureFolder(path);
  return path;
}

std::string FolderUtils::GetPackageCacheFolder() {
  std::string path = JoinPath(GetAppRootFolder(), "PackageCache");
  EnsureFolder(path);
  return path;
}

std::string FolderUtils::GetJREImageFolder(const std::string& JREVersion) {
  CheckFolderName(JREVersion, "JRE version");
  std::string path = JoinPath(JoinPath(GetAppRootFolder(), "JREImage"), JREVersion);
  EnsureFolder(path);
  return path;
}

std::string FolderUtils::GetLIBImageFolder(const std::string& releaseVersion,
                                           const std::string& buildVersion) {
  CheckFolderName(releaseVersion, "release version");
  CheckFolderName(buildVersion, "build");
  std::string path =
      JoinPath(JoinPath(JoinPath(GetAppRootFolder(), "LIBImage"), releaseVersion), buildVersion);
  EnsureFolder(path);
  return path;
}

bool FolderUtils::IsJREImageFolderValid(const std::string& JREVersion) {
  return s_.files.FileExists(JoinPath(GetJREImageFolder(JREVersion), kJreImageMarker));
}

bool FolderUtils::IsLIBImageFolderValid(const std::string& releaseVersion,
                                        const std::string& buildVersion) {
  return s_.files.FileExists(
      JoinPath(GetLIBImageFolder(releaseVersion, buildVersion), kLibImageMarker));
}

std::string FolderUtils::CreateUniqueDirectory(const std::string& baseDir,
                                               const std::string& prefix) {
  std::string base = baseDir.empty() ? s_.system.TempFolder() : baseDir;
  std::string stem = JoinPath(base, prefix + "_" + std::to_string(s_.system.ProcessId()) + "_");
  // The parents may exist already; the folder itself must be one made here
  // and now. A folder of the same name left by an earlier process (a crash,
  // a process id used again) would mix its files into what the caller puts
  // in it.
  const std::string parent = paths::ParentFolderOf(stem);
  if (!parent.empty())
    s_.files.CreateDirectories(parent);
  std::string candidate;
  for (int counter = 0; counter <= 5000; ++counter) {
    candidate = stem + std::to_string(counter);
    if (s_.files.CreateNewDirectory(candidate))
      return candidate;
  }
  throw std::runtime_error("Could not find a unique directory name based on " + candidate);
}

} // namespace store
