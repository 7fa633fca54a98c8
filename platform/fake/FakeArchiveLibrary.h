// Archives by path or content, extracted into the fake file system.
#pragma once

#include "platform/Archive.h"
#include "platform/fake/FakeFileSystem.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fake {

// Archives the fake library can open: by path, a format and its items. The
// bytes of a file item are written to the fake file system on extraction.
// A file item states the size set in it, else the length of its data; an
// item whose data is longer than its stated size fails as it would in the
// library, without its file.
struct FakeArchiveContent {
  std::string format; // only this format opens it
  std::vector<plat::ArchiveItem> items;
  std::vector<std::string> data; // per item
  bool damaged = false;          // error flags set while opening
  int failOnExtractIndex = -1;   // raises when this item is extracted
  bool sizesStated = true;       // false: no item states a size

  // File items of the format whose bytes are "bytes of <name>".
  static FakeArchiveContent Files(std::string format, const std::vector<std::string>& names);
};

class FakeArchiveLibrary : public plat::IArchiveLibrary {
public:
  explicit FakeArchiveLibrary(FakeFileSystem& files) : files_(files) {}
  bool present = true;
  std::vector<plat::ArchiveFormat> formats{{"Compound", {"msi", "msp", "doc", "xls", "ppt"}},
                                           {"7z", {"7z"}},
                                           {"zip", {"zip", "z01", "zipx", "jar"}}};
  // By normalised path, or by "content:" and the file's bytes (Add).
  std::map<std::string, FakeArchiveContent> archives;
  std::vector<std::string> opened; // "format path"
  // Runs before each item is extracted, with its target path.
  std::function<void(const std::string&)> onExtractItem;

  void Add(const std::string& path, FakeArchiveContent content);
  bool Load() override { return present; }
  std::vector<plat::ArchiveFormat> Formats() override { return formats; }
  std::unique_ptr<plat::IArchive> Open(const std::string& formatName,
                                       const std::string& archivePath) override;

private:
  FakeFileSystem& files_;
};

} // namespace fake
