#include "platform/fake/FakeFileSystem.h"

#include "common/Text.h"

#include <algorithm>

namespace fake {

std::string FakeFileSystem::Normalize(const std::string& path) const {
  std::string p = path;
  std::replace(p.begin(), p.end(), '/', '\\');
  bool rooted = p.size() >= 2 && p[1] == ':';
  if (!rooted) {
    if (!p.empty() && p[0] == '\\')
      p = workingDirectory.substr(0, 2) + p;
    else
      p = workingDirectory + "\\" + p;
  }
  // Collapse ".", ".." and doubled separators the way the system does.
  std::vector<std::string> parts;
  for (const std::string& part : text::Split(p, '\\')) {
    if (part.empty() || part == ".")
      continue;
    if (part == "..") {
      if (parts.size() > 1)
        parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i)
    out += (i ? "\\" : "") + parts[i];
  return text::ToLowerAscii(out);
}

bool FakeFileSystem::ParentExists(const std::string& key) const {
  size_t slash = key.rfind('\\');
  if (slash == std::string::npos)
    return drives.count(key) > 0;
  std::string parent = key.substr(0, slash);
  return parent.find('\\') == std::string::npos ? drives.count(parent) > 0
                                                : dirs_.count(parent) > 0;
}

bool FakeFileSystem::FileExists(const std::string& path) {
  journal.push_back("exists " + path);
  if (path.empty())
    return false;
  return files_.count(Normalize(path)) > 0;
}

bool FakeFileSystem::DirectoryExists(const std::string& path) {
  if (path.empty())
    return false;
  std::string key = Normalize(path);
  return dirs_.count(key) > 0 || drives.count(key) > 0;
}

std::string FakeFileSystem::ReadFile(const std::string& path) {
  journal.push_back("read " + path);
  auto it = files_.find(Normalize(path));
  if (it == files_.end() || unreadable.count(path))
    throw plat::PlatformError("Cannot open file \"" + path + "\".");
  return it->second;
}

std::optional<uint64_t> FakeFileSystem::FileSize(const std::string& path) {
  auto it = files_.find(Normalize(path));
  if (it == files_.end())
    return std::nullopt;
  return it->second.size();
}

std::string FakeFileSystem::ReadFileRange(const std::string& path, uint64_t offset, size_t length) {
  std::string bytes = ReadFile(path);
  if (offset >= bytes.size())
    return {};
  return bytes.substr(static_cast<size_t>(offset), length);
}

void FakeFileSystem::WriteFile(const std::string& path, const std::string& bytes) {
  journal.push_back("write " + path);
  if (denied.count(path))
    throw plat::AccessDenied("Cannot create file \"" + path + "\". Access is denied.");
  std::string key = Normalize(path);
  // A folder listed as unwritable takes no new file either.
  const bool folderUnwritable =
      std::any_of(unwritable.begin(), unwritable.end(), [&](const std::string& listed) {
        const std::string folder = Normalize(listed);
        return dirs_.count(folder) && key.rfind(folder + "\\", 0) == 0;
      });
  if (unwritable.count(path) || folderUnwritable || !ParentExists(key) || dirs_.count(key))
    throw plat::PlatformError("Cannot create file \"" + path + "\".");
  files_[key] = bytes;
}

void FakeFileSystem::DeleteFile(const std::string& path) {
  journal.push_back("delete " + path);
  if (denied.count(path))
    throw plat::AccessDenied("Cannot delete file \"" + path + "\". Access is denied.");
  if (undeletable.count(path))
    throw plat::PlatformError("Cannot delete file \"" + path + "\". Access is denied.");
  files_.erase(Normalize(path));
}

bool FakeFileSystem::CreateDirectories(const std::string& path) {
  journal.push_back("mkdir " + path);
  if (uncreatable.count(path))
    return false;
  std::string key = Normalize(path);
  std::vector<std::string> parts = text::Split(key, '\\');
  if (parts.empty() || drives.count(parts[0]) == 0)
    return false;
  std::string current = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    current += "\\" + parts[i];
    if (files_.count(current))
      return false;
    dirs_.insert(current);
  }
  return true;
}

bool FakeFileSystem::CreateNewDirectory(const std::string& path) {
  journal.push_back("mkdir-new " + path);
  std::string key = Normalize(path);
  if (uncreatable.count(path) || !ParentExists(key) || dirs_.count(key) || files_.count(key))
    return false;
  dirs_.insert(key);
  return true;
}

void FakeFileSystem::MoveFile(const std::string& from, const std::string& to) {
  journal.push_back("move " + from + " " + to);
  auto it = files_.find(Normalize(from));
  std::string target = Normalize(to);
  if (it == files_.end() || unwritable.count(to) || !ParentExists(target))
    throw plat::PlatformError("Cannot move \"" + from + "\" to \"" + to + "\".");
  std::string bytes = it->second;
  files_.erase(it);
  files_[target] = bytes;
}

void FakeFileSystem::CopyFile(const std::string& from, const std::string& to) {
  journal.push_back("copy " + from + " " + to);
  auto it = files_.find(Normalize(from));
  std::string target = Normalize(to);
  if (it == files_.end() || unwritable.count(to) || !ParentExists(target))
    throw plat::PlatformError("Cannot copy \"" + from + "\" to \"" + to + "\".");
  files_[target] = it->second;
}

void FakeFileSystem::DeleteTree(const std::string& path) {
  journal.push_back("rmtree " + path);
  if (denied.count(path))
    throw plat::AccessDenied("Cannot delete \"" + path + "\". Access is denied.");
  if (undeletable.count(path))
    throw plat::PlatformError("Cannot delete folder \"" + path + "\".");
  std::string key = Normalize(path);
  std::string prefix = key + "\\";
  for (auto it = files_.begin(); it != files_.end();)
    it = it->first.rfind(prefix, 0) == 0 ? files_.erase(it) : std::next(it);
  for (auto it = dirs_.begin(); it != dirs_.end();)
    it = (*it == key || it->rfind(prefix, 0) == 0) ? dirs_.erase(it) : std::next(it);
}

void FakeFileSystem::CopyTree(const std::string& from, const std::string& to) {
  journal.push_back("copytree " + from + " " + to);
  std::string src = Normalize(from);
  if (!dirs_.count(src))
    throw plat::PlatformError("Cannot copy folder \"" + from + "\".");
  std::string dst = Normalize(to);
  CreateDirectories(to);
  std::string prefix = src + "\\";
  std::vector<std::pair<std::string, std::string>> copies;
  for (const auto& [key, bytes] : files_)
    if (key.rfind(prefix, 0) == 0)
      copies.emplace_back(dst + key.substr(src.size()), bytes);
  for (const std::string& dir : std::set<std::string>(dirs_))
    if (dir.rfind(prefix, 0) == 0)
      dirs_.insert(dst + dir.substr(src.size()));
  for (auto& [key, bytes] : copies)
    files_[key] = bytes;
}

void FakeFileSystem::MoveFolder(const std::string& from, const std::string& to) {
  journal.push_back("movedir " + from + " " + to);
  if (onMoveFolder)
    onMoveFolder(from, to);
  if (denied.count(from))
    throw plat::AccessDenied("Cannot move folder \"" + from + "\" to \"" + to +
                             "\". Access is denied.");
  const std::string src = Normalize(from);
  const std::string dst = Normalize(to);
  if (!dirs_.count(src) || dirs_.count(dst) || files_.count(dst) || !ParentExists(dst) ||
      dst.rfind(src + "\\", 0) == 0 || unwritable.count(to))
    throw plat::PlatformError("Cannot move folder \"" + from + "\" to \"" + to + "\".");
  auto moved = [&](const std::string& key) -> std::optional<std::string> {
    if (key == src)
      return dst;
    if (key.rfind(src + "\\", 0) == 0)
      return dst + key.substr(src.size());
    return std::nullopt;
  };
  std::map<std::string, std::string> files;
  for (auto& [key, bytes] : files_)
    files[moved(key).value_or(key)] = std::move(bytes);
  files_ = std::move(files);
  std::set<std::string> dirs;
  for (const std::string& dir : dirs_)
    dirs.insert(moved(dir).value_or(dir));
  dirs_ = std::move(dirs);
}

std::optional<uint64_t> FakeFileSystem::FreeSpace(const std::string& path) {
  const std::string drive = Normalize(path).substr(0, 2);
  auto it = freeBytes.find(drive);
  return it == freeBytes.end() ? uint64_t{1} << 40 : it->second;
}

std::vector<std::string> FakeFileSystem::ListFolder(const std::string& path) {
  const std::string prefix = Normalize(path) + "\\";
  std::vector<std::string> names;
  for (const auto& list : {AllDirectories(), AllFiles()})
    for (const std::string& key : list)
      if (key.rfind(prefix, 0) == 0 && key.find('\\', prefix.size()) == std::string::npos)
        names.push_back(key.substr(prefix.size()));
  return names;
}

plat::AccessChange FakeFileSystem::SetAccessList(const std::string& path, plat::AccessList list) {
  journal.push_back("acl " + path);
  if (!DirectoryExists(path) && !FileExists(path))
    return plat::AccessChange::Failed;
  if (denied.count(path))
    return plat::AccessChange::Denied;
  accessLists[Normalize(path)] = list;
  return plat::AccessChange::Done;
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& bytes) {
  std::string key = Normalize(path);
  size_t slash = key.rfind('\\');
  if (slash != std::string::npos && slash > 2) {
    std::string parent = key.substr(0, slash);
    std::vector<std::string> parts = text::Split(parent, '\\');
    std::string current = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
      current += "\\" + parts[i];
      dirs_.insert(current);
    }
  }
  files_[key] = bytes;
}

std::string FakeFileSystem::Contents(const std::string& path) const {
  auto it = files_.find(Normalize(path));
  return it == files_.end() ? std::string() : it->second;
}

std::vector<std::string> FakeFileSystem::AllFiles() const {
  std::vector<std::string> out;
  for (const auto& [key, value] : files_)
    out.push_back(key);
  return out;
}

std::vector<std::string> FakeFileSystem::Below(const std::string& folder) const {
  const std::string prefix = Normalize(folder) + "\\";
  std::vector<std::string> found;
  for (const auto& list : {AllDirectories(), AllFiles()})
    for (const std::string& path : list)
      if (path.rfind(prefix, 0) == 0)
        found.push_back(path.substr(prefix.size()));
  std::sort(found.begin(), found.end());
  return found;
}

std::vector<std::string> FakeFileSystem::AllDirectories() const {
  return std::vector<std::string>(dirs_.begin(), dirs_.end());
}

} // namespace fake
