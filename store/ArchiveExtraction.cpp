#include "store/ArchiveExtraction.h"

#include "common/Text.h"
#include "platform/Archive.h"
#include "store/FolderUtils.h"
#include "store/PropertySet.h"

#include <algorithm>
#include <cstdint>
#include <set>

namespace store {

namespace {

bool NameMatches(const std::string& fileName, const std::string& extension) {
  // "*.<extension>", letter case aside.
  const std::string lower = text::ToLowerAscii(fileName);
  const std::string ext = text::ToLowerAscii(extension);
  if (lower.size() <= ext.size())
    return false;
  const size_t dot = lower.size() - ext.size() - 1;
  return lower[dot] == '.' && lower.compare(dot + 1, ext.size(), ext) == 0;
}

std::optional<std::string> FormatForName(plat::IArchiveLibrary& library,
                                         const std::string& fileName) {
  for (const plat::ArchiveFormat& format : library.Formats())
    for (const std::string& extension : format.extensions)
      if (!extension.empty() && NameMatches(fileName, extension))
        return format.name;
  return std::nullopt;
}

// A path part as Windows takes it: trailing dots and blanks are dropped.
std::string AsWindowsTakesIt(const std::string& part) {
  const size_t last = part.find_last_not_of(". ");
  return last == std::string::npos ? std::string() : part.substr(0, last + 1);
}

// "nul .txt" opens NUL as much as "nul.txt" does: blanks before the
// extension do not count either.
bool NamesADevice(const std::string& part) {
  std::string stem = AsWindowsTakesIt(part);
  stem = stem.substr(0, stem.find('.'));
  stem.erase(stem.find_last_not_of(' ') + 1);
  return paths::IsReservedDeviceName(stem);
}

// "", ".", "./", "././": the output folder itself.
bool NamesTheOutputFolder(const std::string& packedName) {
  std::string path = packedName;
  std::replace(path.begin(), path.end(), '/', '\\');
  for (const std::string& part : text::Split(path, '\\'))
    if (!part.empty() && part != ".")
      return false;
  return true;
}

std::unique_ptr<plat::IArchive> OpenSound(plat::Services& s, const std::string& format,
                                          const std::string& archiveFileName) {
  std::unique_ptr<plat::IArchive> archive = s.archives.Open(format, archiveFileName);
  // A damaged archive may still open and list part of its items; taking it
  // as extracted would install half an image.
  if (archive->HasErrors())
    throw plat::ArchiveError("The archive " + archiveFileName + " is damaged.");
  return archive;
}

// A sum that stays at the largest value rather than wrapping.
uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// The stated sizes of the chosen file items added up, and what they take on
// the disk; nothing when an item states no size.
std::optional<UnpackNeed> NeedOf(const std::vector<plat::ArchiveItem>& items,
                                 const std::vector<uint32_t>& chosen) {
  UnpackNeed need;
  for (uint32_t index : chosen) {
    const plat::ArchiveItem& item = items[index];
    if (item.isFolder) {
      need.diskBytes = SaturatingAdd(need.diskBytes, kClusterBytes + kItemEntryBytes);
      continue;
    }
    if (!item.size)
      return std::nullopt;
    need.bytes = SaturatingAdd(need.bytes, *item.size);
    // Each file fills whole clusters; its last one is taken whole.
    const uint64_t clusters = *item.size / kClusterBytes + (*item.size % kClusterBytes != 0);
    const uint64_t onDisk =
        clusters > UINT64_MAX / kClusterBytes ? UINT64_MAX : clusters * kClusterBytes;
    need.diskBytes = SaturatingAdd(need.diskBytes, SaturatingAdd(onDisk, kItemEntryBytes));
  }
  return need;
}

std::vector<uint32_t> AllOf(const std::vector<plat::ArchiveItem>& items) {
  std::vector<uint32_t> all(items.size());
  for (uint32_t i = 0; i < all.size(); ++i)
    all[i] = i;
  return all;
}

constexpr uint64_t kMiB = uint64_t{1} << 20;

// Makes the folders the targets need. Thousands of files share a few
// folders: each folder is looked at once, top down, so that a missing one is
// made with a single call in a parent that is there; one that is there
// already, or that the system refuses, takes the general way.
void MakeFolders(plat::IFileSystem& files, const std::string& outputFolder,
                 const std::vector<plat::ArchiveItem>& items,
                 const std::vector<std::pair<uint32_t, std::string>>& targets) {
  std::set<std::string> ready{outputFolder};
  std::vector<std::string> missing;
  for (const auto& [index, target] : targets) {
    // The folder itself, then its parents up to one already looked at.
    missing.clear();
    for (std::string folder = items[index].isFolder ? target : paths::ParentFolderOf(target);
         !folder.empty() && ready.count(folder) == 0; folder = paths::ParentFolderOf(folder)) {
      if (!missing.empty() && missing.back().size() <= folder.size())
        break; // a root: it has no parent
      missing.push_back(folder);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
      if (!files.CreateNewDirectory(*folder) && !files.DirectoryExists(*folder) &&
          !files.CreateDirectories(*folder))
        throw plat::PlatformError("Cannot create the folder " + *folder + ".");
      ready.insert(*folder);
    }
  }
}

} // namespace

std::string SafeItemPath(const std::string& packedName) {
  auto refuse = [&](const char* why) {
    throw paths::InvalidPathError("The archive item '" + packedName + "' " + why);
  };
  const char* outside = "would be written outside the output folder.";
  std::string path = packedName;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty() || path[0] == '\\' || path.find(':') != std::string::npos)
    refuse(outside);
  std::string out;
  for (const std::string& part : text::Split(path, '\\')) {
    if (part.empty() || part == ".")
      continue;
    // "..", and every other run of dots and blanks: Windows shortens them,
    // to ".." among others.
    if (AsWindowsTakesIt(part).empty())
      refuse(outside);
    if (NamesADevice(part))
      refuse("names a device.");
    out += (out.empty() ? "" : "\\") + part;
  }
  if (out.empty())
    refuse("has no name.");
  return out;
}

std::optional<UnpackNeed> UnpackedNeed(plat::Services& s, const std::string& archiveFileName,
                                       const std::string& format) {
  if (!s.archives.Load())
    return std::nullopt;
  const std::vector<plat::ArchiveItem> items = OpenSound(s, format, archiveFileName)->Items();
  return NeedOf(items, AllOf(items));
}

std::optional<uint64_t> UnpackedSize(plat::Services& s, const std::string& archiveFileName,
                                     const std::string& format) {
  const std::optional<UnpackNeed> need = UnpackedNeed(s, archiveFileName, format);
  if (!need)
    return std::nullopt;
  return need->bytes;
}

std::string UnpackRoomMessage(plat::Services& s, const std::string& archiveName,
                              const UnpackNeed& need, const std::string& folder) {
  // Rounded up and the room rounded down, so that the numbers read as
  // "more than" too.
  auto mb = [](uint64_t bytes) { return std::to_string(bytes / kMiB + (bytes % kMiB != 0)); };
  auto would = [&] { return "The archive " + archiveName + " would unpack to " + mb(need.bytes); };
  if (need.bytes > kMaxUnpackedBytes)
    return would() + " MB, more than the " + std::to_string(kMaxUnpackedBytes / kMiB) +
           " MB allowed.";
  const std::optional<uint64_t> free = s.files.FreeSpace(folder);
  if (!free)
    return {};
  const std::string room = std::to_string(*free / kMiB) + " MB free on the disk.";
  if (need.bytes > *free)
    return would() + " MB, more than the " + room;
  // Small files take far more of the disk than they hold: what they take
  // there is what they unpack to.
  if (need.diskBytes > *free)
    return "The archive " + archiveName + " would unpack to " + mb(need.diskBytes) +
           " MB, more than the " + room;
  return {};
}

std::string UnpackRoomMessage(plat::Services& s, const std::string& archiveName, uint64_t bytes,
                              const std::string& folder) {
  UnpackNeed need;
  need.bytes = bytes;
  need.diskBytes = bytes;
  return UnpackRoomMessage(s, archiveName, need, folder);
}

bool ExtractArchive(plat::Services& s, const std::string& archiveFileName,
                    const std::string& outputFolder, std::string& errorMessage,
                    const std::string& embeddedArchiveName, bool extractAll,
                    const std::optional<std::string>& recommendedDecompressorClass,
                    const plat::ItemProgress& onProgress, const plat::StopFlag* stop,
                    Refusal* refusal) {
  errorMessage.clear();
  auto refuse = [&](Refusal whose, std::string message) {
    if (refusal)
      *refusal = whose;
    errorMessage = std::move(message);
    return false;
  };
  if (refusal)
    *refusal = Refusal::None;
  // The library knows the formats and their file-name patterns, so it is
  // needed before the format can be chosen.
  if (!s.archives.Load())
    return refuse(Refusal::ThisMachine, "7z.dll not found");
  std::optional<std::string> format = recommendedDecompressorClass;
  if (!format)
    format = FormatForName(s.archives, archiveFileName);
  if (!format) {
    if (!IsCompoundDocument(s, archiveFileName))
      return refuse(Refusal::Archive, "Failed to determine file format of " + archiveFileName);
    format = kFormatCompound;
  }

  s.ui.ProcessMessages();
  std::unique_ptr<plat::IArchive> archive = OpenSound(s, *format, archiveFileName);
  std::vector<plat::ArchiveItem> items = archive->Items();
  s.ui.ProcessMessages();

  // A comparison per item: thousands of them take less than one turn of the
  // window's messages would.
  std::vector<bool> selected(items.size(), false);
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].path == embeddedArchiveName)
      selected[i] = true;
  if (items.empty())
    return true;

  std::vector<uint32_t> chosen;
  std::vector<std::pair<uint32_t, std::string>> targets;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!extractAll && !selected[i])
      continue;
    // The output folder is made anyway.
    if (items[i].isFolder && NamesTheOutputFolder(items[i].path))
      continue;
    chosen.push_back(static_cast<uint32_t>(i));
    targets.emplace_back(static_cast<uint32_t>(i),
                         paths::JoinPath(outputFolder, SafeItemPath(items[i].path)));
  }
  if (targets.empty())
    return true;

  // A few megabytes can claim gigabytes: the room is checked against what
  // the archive states, and the library refuses an item that writes more.
  const std::string archiveName = paths::FileNameOf(archiveFileName);
  const std::optional<UnpackNeed> need = NeedOf(items, chosen);
  if (!need)
    return refuse(Refusal::Archive,
                  "The archive " + archiveName + " does not state the size of its items.");
  if (std::string room = UnpackRoomMessage(s, archiveName, *need, outputFolder); !room.empty())
    return refuse(Refusal::ThisMachine, std::move(room));

  s.files.CreateDirectories(outputFolder);
  MakeFolders(s.files, outputFolder, items, targets);
  archive->Extract(targets, onProgress, stop);
  return true;
}

} // namespace store
