#include "store/FolderUtils.h"

#include "common/Text.h"

#include <array>

namespace store {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool HasInvalidPathChar(const std::string& part, bool allowWildcards) {
  for (unsigned char c : part) {
    if (c < 32 || c == '"' || c == '<' || c == '>' || c == '|')
      return true;
    if (!allowWildcards && (c == '*' || c == '?'))
      return true;
  }
  return false;
}

// "C:\" for a drive path, "\\server\share\" for a UNC path, "\" for a path
// rooted on the current drive; empty for a relative path.
std::string RootOf(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':')
    return path.substr(0, 2) + "\\";
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t server = path.find_first_of("\\/", 2);
    if (server == std::string::npos)
      return path;
    size_t share = path.find_first_of("\\/", server + 1);
    return share == std::string::npos ? path + "\\" : path.substr(0, share + 1);
  }
  if (!path.empty() && IsSeparator(path[0]))
    return "\\";
  return {};
}

bool IsReservedDeviceName(const std::string& name) {
  std::string stem = text::ToLowerAscii(name.substr(0, name.find('.')));
  static const std::array<const char*, 4> fixed = {"con", "prn", "aux", "nul"};
  for (const char* r : fixed)
    if (stem == r)
      return true;
  return stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

bool IsRootedPath(const std::string& path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() >= 2 && path[1] == ':');
}

std::string JoinPath(const std::string& left, const std::string& right, bool allowWildcards) {
  if (HasInvalidPathChar(left, allowWildcards) || HasInvalidPathChar(right, allowWildcards))
    throw InvalidPathError("Illegal characters in path: " +
                           (HasInvalidPathChar(left, allowWildcards) ? left : right));
  if (left.empty())
    return right;
  if (right.empty())
    return left;
  if (IsRootedPath(right))
    return right;
  char last = left.back();
  if (IsSeparator(last) || last == ':')
    return left + right;
  return left + "\\" + right;
}

void CheckFolderName(const std::string& name, const char* what) {
  auto refuse = [&](const char* why) {
    throw InvalidPathError(std::string("Invalid ") + what + " name '" + name + "': " + why);
  };
  if (name.empty())
    refuse("it is empty");
  if (HasInvalidPathChar(name, false))
    refuse("it holds characters not allowed in paths");
  if (name.find_first_of("\\/:") != std::string::npos)
    refuse("it is not a single folder name");
  if (name.find_first_not_of(". ") == std::string::npos)
    refuse("it is not a single folder name");
  if (IsReservedDeviceName(name))
    refuse("it is a reserved device name");
}

void FolderUtils::EnsureFolder(const std::string& path) {
  if (s_.files.DirectoryExists(path) || s_.files.CreateDirectories(path))
    return;
  std::string root = RootOf(path);
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
  return s_.files.FileExists(JoinPath(GetJREImageFolder(JREVersion), "bin\\javaw.exe"));
}

bool FolderUtils::IsLIBImageFolderValid(const std::string& releaseVersion,
                                        const std::string& buildVersion) {
  return s_.files.FileExists(
      JoinPath(GetLIBImageFolder(releaseVersion, buildVersion), "config-gui.jar"));
}

std::string FolderUtils::CreateUniqueDirectory(const std::string& baseDir,
                                               const std::string& prefix) {
  std::string base = baseDir.empty() ? s_.system.TempFolder() : baseDir;
  std::string stem = JoinPath(base, prefix + "_" + std::to_string(s_.system.ProcessId()) + "_");
  std::string candidate;
  for (int counter = 0; counter <= 5000; ++counter) {
    candidate = stem + std::to_string(counter);
    s_.files.CreateDirectories(candidate);
    if (s_.files.DirectoryExists(candidate))
      return candidate;
  }
  throw std::runtime_error("Could not find a unique directory name based on " + candidate);
}

} // namespace store
