#include "platform/fake/FakeArchiveLibrary.h"

namespace fake {

namespace {

class FakeArchive : public plat::IArchive {
public:
  FakeArchive(FakeArchiveContent content, FakeFileSystem& files,
              std::function<void(const std::string&)> onItem)
      : content_(std::move(content)), files_(files), onItem_(std::move(onItem)) {}
  std::vector<plat::ArchiveItem> Items() override {
    std::vector<plat::ArchiveItem> items = content_.items;
    for (size_t i = 0; i < items.size(); ++i) {
      if (!content_.sizesStated)
        items[i].size.reset();
      else if (!items[i].size && !items[i].isFolder)
        items[i].size = Data(i).size();
    }
    return items;
  }
  bool HasErrors() override { return content_.damaged; }
  void Extract(const plat::ExtractTargets& targets, const plat::ItemProgress& onProgress,
               const plat::StopFlag* stop) override {
    const std::vector<plat::ArchiveItem> items = Items();
    uint64_t done = 0;
    for (const auto& [index, path] : targets) {
      const plat::ArchiveItem& item = items.at(index);
      if (onItem_)
        onItem_(path);
      if (plat::StopRequested(stop))
        throw plat::Stopped();
      if (static_cast<int>(index) == content_.failOnExtractIndex)
        throw plat::ArchiveError("Data error in '" + item.path + "'");
      if (item.isFolder) {
        files_.CreateDirectories(path);
      } else if (item.size && Data(index).size() > *item.size) {
        throw plat::ArchiveError("'" + item.path + "' holds more than its stated size");
      } else {
        files_.WriteFile(path, Data(index));
      }
      if (onProgress)
        onProgress(++done, targets.size());
    }
  }

private:
  std::string Data(size_t index) const {
    return index < content_.data.size() ? content_.data[index] : std::string();
  }
  FakeArchiveContent content_;
  FakeFileSystem& files_;
  std::function<void(const std::string&)> onItem_;
};

} // namespace

FakeArchiveContent FakeArchiveContent::Files(std::string format,
                                             const std::vector<std::string>& names) {
  FakeArchiveContent content;
  content.format = std::move(format);
  for (const std::string& name : names) {
    content.items.push_back({name, false});
    content.data.push_back("bytes of " + name);
  }
  return content;
}

void FakeArchiveLibrary::Add(const std::string& path, FakeArchiveContent content) {
  // The file's bytes name the archive, so copies of it open as well.
  files_.AddFile(path, "archive " + files_.Normalize(path));
  archives["content:" + files_.Contents(path)] = std::move(content);
}

std::unique_ptr<plat::IArchive> FakeArchiveLibrary::Open(const std::string& formatName,
                                                         const std::string& archivePath) {
  opened.push_back(formatName + " " + archivePath);
  if (!files_.FileExists(archivePath))
    throw plat::PlatformError("Cannot open the file '" + archivePath + "'");
  auto it = archives.find(files_.Normalize(archivePath));
  if (it == archives.end())
    it = archives.find("content:" + files_.Contents(archivePath));
  if (it == archives.end() || it->second.format != formatName)
    throw plat::ArchiveError("Cannot open the file '" + archivePath + "' as archive");
  return std::make_unique<FakeArchive>(it->second, files_, onExtractItem);
}

} // namespace fake
