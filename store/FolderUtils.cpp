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
  // sets the lists. One that cannot set them (a volume without access
  // lists) still serves this user.
  if (!s_.files.CreateNewDirectory(root))
    return;
  for (const char* name : kProvisioningFolders) {
    const std::string folder = JoinPath(root, name);
    if (s_.files.CreateNewDirectory(folder))
      s_.files.SetAccessList(folder, plat::AccessList::ProvisioningFolder);
  }
  s_.files.SetAccessList(root, plat::AccessList::ApplicationRoot);
}

void FolderUtils::EnsureFolder(const std::string& path, plat::AccessList list) {
  if (s_.files.DirectoryExists(path))
    return;
  EnsureAppRoot();
  const std::string parent = paths::ParentFolderOf(path);
  if (!parent.empty() && !s_.files.DirectoryExists(parent))
    s_.files.CreateDirectories(parent);
  if (s_.files.CreateNewDirectory(path)) {
    s_.files.SetAccessList(path, list);
    return;
  }
  // Made meanwhile by another launcher, or by the root's set-up above.
  if (s_.files.DirectoryExists(path))
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
  EnsureFolder(path, plat::AccessList::ProvisioningFolder);
  return path;
}

std::string FolderUtils::GetLIBCacheFolder() {
  std::string path = JoinPath(GetAppRootFolder(), "LIBCache");
  EnsureFolder(path, plat::AccessList::ProvisioningFolder);
  return path;
}

std::string FolderUtils::GetPackageCacheFolder() {
  std::string path = JoinPath(GetAppRootFolder(), "PackageCache");
  EnsureFolder(path, plat::AccessList::ProvisioningFolder);
  return path;
}

std::string FolderUtils::GetJREImageFolder(const std::string& JREVersion) {
  CheckFolderName(JREVersion, "JRE version");
  const std::string images = JoinPath(GetAppRootFolder(), "JREImage");
  EnsureFolder(images, plat::AccessList::ProvisioningFolder);
  // Empty until an image is renamed into its place; any user's launcher may
  // move it aside then, nobody may fill it.
  std::string path = JoinPath(images, JREVersion);
  EnsureFolder(path, plat::AccessList::ImagePlaceholder);
  return path;
}

std::string FolderUtils::GetLIBImageFolder(const std::string& releaseVersion,
                                           const std::string& buildVersion) {
  CheckFolderName(releaseVersion, "release version");
  CheckFolderName(buildVersion, "build");
  const std::string images = JoinPath(GetAppRootFolder(), "LIBImage");
  EnsureFolder(images, plat::AccessList::ProvisioningFolder);
  // A release's folder is where every user's launcher adds that release's
  // builds, as in LIBImage itself.
  const std::string release = JoinPath(images, releaseVersion);
  EnsureFolder(release, plat::AccessList::ProvisioningFolder);
  std::string path = JoinPath(release, buildVersion);
  EnsureFolder(path, plat::AccessList::ImagePlaceholder);
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
