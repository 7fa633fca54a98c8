// Files and folders in memory, by Windows path rules.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fake {

// Windows-like paths: case-insensitive, "\" and "/" alike, relative paths
// taken from `workingDirectory`. Drives exist when listed in `drives`.
class FakeFileSystem : public plat::IFileSystem {
public:
  std::string workingDirectory = "C:\\work";
  std::set<std::string> drives{"c:"};
  // Paths (as given to the calls) whose operations fail.
  std::set<std::string> unreadable, unwritable, undeletable, uncreatable;
  // Free bytes by drive ("c:"); a drive not listed has 1 TiB free. Writes
  // do not use it up.
  std::map<std::string, uint64_t> freeBytes;

  bool FileExists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  std::string ReadFile(const std::string& path) override;
  std::optional<uint64_t> FileSize(const std::string& path) override;
  std::string ReadFileRange(const std::string& path, uint64_t offset, size_t length) override;
  void WriteFile(const std::string& path, const std::string& bytes) override;
  void DeleteFile(const std::string& path) override;
  bool CreateDirectories(const std::string& path) override;
  bool CreateNewDirectory(const std::string& path) override;
  void MoveFile(const std::string& from, const std::string& to) override;
  void CopyFile(const std::string& from, const std::string& to) override;
  void DeleteTree(const std::string& path) override;
  void CopyTree(const std::string& from, const std::string& to) override;
  // Fails when the target exists or its parent does not, or is listed in
  // `unwritable`. `onMoveFolder` runs first and may raise, as when a file in
  // the folder is held open.
  void MoveFolder(const std::string& from, const std::string& to) override;
  std::function<void(const std::string& from, const std::string& to)> onMoveFolder;
  std::optional<uint64_t> FreeSpace(const std::string& path) override;
  // Names as they were made lower case (the fake keeps no other spelling).
  std::vector<std::string> ListFolder(const std::string& path) override;
  // Records the list by normalised path; Failed for a path that does not
  // exist, Denied for one in `denied`.
  plat::AccessChange SetAccessList(const std::string& path, plat::AccessList list) override;
  std::map<std::string, plat::AccessList> accessLists;
  // Paths (as given) that this user may not change: their writes, deletes
  // and moves raise AccessDenied, a change of their list is Denied.
  std::set<std::string> denied;

  // Test set-up and inspection, by the same path rules.
  void AddFile(const std::string& path, const std::string& bytes);
  std::string Contents(const std::string& path) const;
  std::vector<std::string> AllFiles() const;
  std::vector<std::string> AllDirectories() const;
  // Every folder and file below `folder`, relative to it, in lower case, sorted.
  std::vector<std::string> Below(const std::string& folder) const;
  // Every operation in order, as "op path" lines, for tests of what was touched.
  std::vector<std::string> journal;

  std::string Normalize(const std::string& path) const;

private:
  bool ParentExists(const std::string& key) const;
  std::map<std::string, std::string> files_;
  std::set<std::string> dirs_;
};

} // namespace fake
