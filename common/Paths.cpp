#include "common/Paths.h"

#include "common/Text.h"

#include <array>

namespace paths {

namespace {
constexpr const char* kPathSeparators = "\\/:";
}

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
  // Windows ignores blanks before the extension: "nul .txt" is NUL too.
  while (!stem.empty() && stem.back() == ' ')
    stem.pop_back();
  if (stem == "conin$" || stem == "conout$")
    return true;
  static const std::array<const char*, 4> fixed = {"con", "prn", "aux", "nul"};
  for (const char* r : fixed)
    if (stem == r)
      return true;
  return stem.size() == 4 && (stem.rfind("com", 0) == 0 || stem.rfind("lpt", 0) == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

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
  if (name.find_first_of(kPathSeparators) != std::string::npos)
    refuse("it is not a single folder name");
  if (name.find_first_not_of(". ") == std::string::npos)
    refuse("it is not a single folder name");
  if (name.back() == '.' || name.back() == ' ')
    refuse("Windows would strip its trailing dot or blank");
  if (IsReservedDeviceName(name))
    refuse("it is a reserved device name");
}

std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of(kPathSeparators);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ParentFolderOf(const std::string& path) {
  std::string folder = FolderOf(path);
  if (!folder.empty() && IsSeparator(folder.back()))
    folder.pop_back();
  return folder;
}

std::string FileNameOf(const std::string& path) {
  size_t cut = path.find_last_of(kPathSeparators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace paths
